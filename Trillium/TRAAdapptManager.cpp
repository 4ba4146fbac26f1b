#include "Trillium/TRAAdapptManager.h"

#include <map>
#include <vector>

#include "Trillium/TRAMetadata.h"
#include "Trillium/TRAWireContract.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSUUID.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/SaturatingCast.h"

namespace {

struct Session {
    std::string identifier;
    double start = 0;  // seconds since 1970
    bool reasonPending = false;
    std::map<std::string, std::vector<double>> displays;  // key → display times
};

double now() { return NSDate::date().timeIntervalSince1970(); }

Session& session() {
    // Never destroyed: other threads may use it during exit.
    static Session& s = *new Session();
    if (s.identifier.empty()) {
        s.identifier = NSUUID::UUID()->UUIDString();
        s.start = now();
    }
    return s;
}

bool validateRuleList(const Value& list, const std::string& where, std::string* error) {
    if (!list.isArray()) {
        if (error) *error = where + " is not an array";
        return false;
    }
    for (const Value& rule : *list.array()) {
        const Value& maxAds = rule["maxAds"];
        const Value& seconds = rule["seconds"];
        bool ok = rule.isDictionary() && (maxAds.isInteger() || maxAds.isDouble()) &&
                  (seconds.isNull() || seconds.isInteger() || seconds.isDouble());
        if (ok) {
            double m = maxAds.doubleValue(), s = seconds.doubleValue();
            ok = m >= 0 && m <= TRAWire::kMaximumIntegerField && s >= 0 && s <= TRAWire::kMaximumIntegerField;
        }
        if (!ok) {
            if (error) *error = where + " holds a rule that is not {\"maxAds\": n, \"seconds\": n}";
            return false;
        }
    }
    return true;
}

// Whether every rule of the list allows one more display under the key.
bool rulesAllow(const Value& list, const std::string& key) {
    if (!list.isArray()) return true;
    const Session& s = session();
    auto found = s.displays.find(key);
    double t = now();
    for (const Value& rule : *list.array()) {
        int64_t maxAds = rule["maxAds"].integerValue();
        double window = rule["seconds"].doubleValue();
        int64_t counted = 0;
        if (found != s.displays.end())
            for (double when : found->second)
                if (window <= 0 || t - when < window) ++counted;
        if (counted >= maxAds) return false;
    }
    return true;
}

}  // namespace

bool TRAAdapptManager::getAdapptShowPlacement(const std::string& placement, const std::optional<std::string>& adTag) {
    Value rules = TRAMetadata::sharedMetadata()->getAdRules();
    if (!rules.isDictionary()) return true;
    if (!rulesAllow(rules["session"], kAllPlacements)) return false;
    if (!rulesAllow(rules["placements"][placement], placement)) return false;
    if (adTag && !adTag->empty() && !rulesAllow(rules["tags"][*adTag], *adTag)) return false;
    return true;
}

bool TRAAdapptManager::applyAdRulesOnBannerRefresh() {
    return TRAMetadata::sharedMetadata()->isApplyAdRulesOnBannerRefresh();
}

void TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSessionForKey(const std::string& key) {
    session().displays[key].push_back(now());
}

void TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSession() {
    updateNumOfTotalAdsDisplayedInCurrentSessionForKey(kAllPlacements);
}

void TRAAdapptManager::setNewSessionReason(const std::string& reason) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject(reason, kNewSessionReasonKey);
    defaults->synchronize();
    session().reasonPending = true;
}

std::optional<std::string> TRAAdapptManager::newSessionReason() {
    return NSUserDefaults::standardUserDefaults()->stringForKey(kNewSessionReasonKey);
}

bool TRAAdapptManager::isNewSessionPending() { return session().reasonPending; }

void TRAAdapptManager::beginNewSession() {
    Session& s = session();
    s.identifier = NSUUID::UUID()->UUIDString();
    s.start = now();
    s.reasonPending = false;
    s.displays.clear();
}

void TRAAdapptManager::adoptCurrentSession() { session().reasonPending = false; }

std::string TRAAdapptManager::clientSessionId() { return session().identifier; }

int64_t TRAAdapptManager::timeSinceSessionStart() {
    double elapsed = now() - session().start;
    return elapsed > 0 ? platform::saturatingCast<int64_t>(elapsed) : 0;
}

int64_t TRAAdapptManager::numOfTotalAdsDisplayedInCurrentSession() { return numOfAdsDisplayedForKey(kAllPlacements); }

int64_t TRAAdapptManager::numOfAdsDisplayedForKey(const std::string& key) {
    const Session& s = session();
    auto found = s.displays.find(key);
    return found == s.displays.end() ? 0 : static_cast<int64_t>(found->second.size());
}

bool TRAAdapptManager::validateAdRules(const Value& rules, std::string* error) {
    if (!rules.isDictionary()) {
        if (error) *error = "\"adRules\" is not an object";
        return false;
    }
    if (rules.contains("session") && !validateRuleList(rules["session"], "\"adRules.session\"", error)) return false;
    for (const char* group : {"placements", "tags"}) {
        if (!rules.contains(group)) continue;
        const Value& byKey = rules[group];
        if (!byKey.isDictionary()) {
            if (error) *error = std::string("\"adRules.") + group + "\" is not an object";
            return false;
        }
        for (const auto& [key, list] : *byKey.dictionary())
            if (!validateRuleList(list, std::string("\"adRules.") + group + "." + key + "\"", error)) return false;
    }
    return true;
}
