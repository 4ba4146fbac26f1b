// The server's ad rules and the session counters they are judged on: which
// placement and tag may show an ad now, how many ads the current session has
// shown under each key and when, and the client session itself (identifier,
// start time, the reason of the next one). Class methods; main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class TRAAdapptManager : public NSObject {
public:
    static constexpr const char* kAllPlacements = "ALL_PLACEMENTS";
    static constexpr const char* kNewSessionReasonKey = "TRANewSessionReason";

    // Whether the configuration's ad rules allow an ad of this placement (and
    // tag, when not nil or empty) now. Without rules: YES.
    static bool getAdapptShowPlacement(const std::string& placement, const std::optional<std::string>& adTag);
    // The configuration's switch that makes banner refreshes pass the rules too.
    static bool applyAdRulesOnBannerRefresh();
    // Records one display, with its time, under the key (a placement or a tag).
    static void updateNumOfTotalAdsDisplayedInCurrentSessionForKey(const std::string& key);
    // Records one display under "ALL_PLACEMENTS".
    static void updateNumOfTotalAdsDisplayedInCurrentSession();
    // Stores the reason of the next session under "TRANewSessionReason".
    static void setNewSessionReason(const std::string& reason);

    // ---- the session ----
    // The stored reason of the next (or current) session, nil when none.
    static std::optional<std::string> newSessionReason();
    // True when a reason was set since the current session began.
    static bool isNewSessionPending();
    // Begins a new session: new identifier, start time now, counters cleared.
    static void beginNewSession();
    // The pending reason goes to the session under way (the one the process
    // began): identifier, start and counters stay.
    static void adoptCurrentSession();
    static std::string clientSessionId();
    // Whole seconds since the session began.
    static int64_t timeSinceSessionStart();
    // Displays counted under "ALL_PLACEMENTS" in this session.
    static int64_t numOfTotalAdsDisplayedInCurrentSession();
    // Displays counted under the key in this session.
    static int64_t numOfAdsDisplayedForKey(const std::string& key);

    // Checks an "adRules" object of a configuration answer; false (with the
    // reason) when it is malformed.
    static bool validateAdRules(const Value& rules, std::string* error);
};
