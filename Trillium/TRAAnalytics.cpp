#include "Trillium/TRAAnalytics.h"

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATransportHttp.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/TRAWireContract.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSUUID.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/web/RepeatedRefusals.h"

namespace {

// Events come as often as a page's taps and failures do: their lines fold.
platform::web::RepeatedRefusals& analyticsLines() {
    static auto& lines = *new platform::web::RepeatedRefusals(TRALog::kFoldedLinePeriod);  // never destroyed
    return lines;
}

// The queue kept while the preferences cannot be read: stored then, it
// would stand in for the queue they hold (which the preferences keep), and
// the events it holds would be lost. It joins that queue once they read.
Value::Array& queueWhileUnread() {
    static auto* queue = new Value::Array();  // main thread; never destroyed
    return *queue;
}

void storeQueue(const Value::Array& queue) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (!defaults->isStoreRead()) {
        queueWhileUnread() = queue;
        return;
    }
    defaults->setObject(Value(queue), TRAAnalytics::kQueueKey);
}

// The stored queue: an array of {"id": <uuid>, "url": <text>}; anything else
// in it is dropped.
Value::Array storedQueue() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (!defaults->isStoreRead()) return queueWhileUnread();
    auto stored = defaults->arrayForKey(TRAAnalytics::kQueueKey);
    Value::Array queue;
    if (stored)
        for (const Value& entry : *stored)
            if (entry["id"].isString() && entry["url"].isString()) queue.push_back(entry);
    if (!queueWhileUnread().empty()) {
        queue.insert(queue.end(), queueWhileUnread().begin(), queueWhileUnread().end());
        queueWhileUnread().clear();
        // Each part is within the bound, the two together may not be.
        if (queue.size() > TRAAnalytics::kMaximumQueuedEvents) {
            const size_t over = queue.size() - TRAAnalytics::kMaximumQueuedEvents;
            TRALog::errorf("Analytics queue is full; the %@ oldest events are dropped.", std::to_string(over));
            queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(over));
        }
        storeQueue(queue);
    }
    return queue;
}

}  // namespace

Ref<TRAAnalytics> TRAAnalytics::shared() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TRAAnalytics>& instance = *new Ref<TRAAnalytics>(NSObject::alloc<TRAAnalytics>());
    return instance;
}

void TRAAnalytics::sendAnalyticsURLWithCategory(int64_t category, const std::optional<std::string>& details,
                                                const std::string& value, const std::optional<std::string>& dParams) {
    auto url = eventURL(Event{category, details, value}, dParams);
    // The new event goes at once; older ones wait for the next sendPendingEvents.
    if (url) shared()->send(shared()->enqueue(*url), *url);
}

void TRAAnalytics::sendAnalyticsEventsInOrder(const std::vector<Event>& events,
                                              const std::optional<std::string>& dParams) {
    std::optional<std::string> previous;
    for (const Event& event : events) {
        auto url = eventURL(event, dParams);
        if (!url) return;
        bool first = !previous;
        previous = shared()->enqueue(*url, previous);
        if (first) shared()->send(*previous, *url);
    }
}

std::optional<std::string> TRAAnalytics::eventURL(const Event& event, const std::optional<std::string>& dParams) {
    auto metadata = TRAMetadata::sharedMetadata();
    if (!metadata->isAnalyticsEnabled()) {
        TRALog::infoFolded(analyticsLines(), "Analytics are switched off; event of category %lld not sent.",
                           event.category);
        return std::nullopt;
    }
    auto sdk = TRATrilliumSDK::sharedInstance();
    auto escape = TRAAdSDKUtils::escapeQueryValue;
    std::string url = metadata->getAnalyticsHost() + TRAWire::kAnalyticsPath + "?";
    url += NSString::stringWithFormat("category=%lld", event.category);
    url += "&value=" + escape(event.value);
    if (event.details) url += "&details=" + escape(*event.details);
    if (dParams) url += "&d=" + escape(*dParams);
    url += "&publisherId=" + escape(sdk->devID().value_or(""));
    url += "&productId=" + escape(sdk->appID().value_or(""));
    url += "&sdkVersion=" + escape(TRAWire::kSdkVersion);
    url += std::string("&os=") + TRAWire::kOs;
    url += "&clientSessionId=" + escape(TRAAdapptManager::clientSessionId());
    url += NSString::stringWithFormat(
        "&timestamp=%lld", platform::saturatingCast<int64_t>(NSDate::date().timeIntervalSince1970() * 1000));
    return url;
}

void TRAAnalytics::sendPendingEvents() { shared()->flush(); }

size_t TRAAnalytics::queuedEventCount() { return storedQueue().size(); }

std::string TRAAnalytics::enqueue(const std::string& url, const std::optional<std::string>& after) {
    Value::Array queue = storedQueue();
    while (queue.size() >= kMaximumQueuedEvents) {
        TRALog::errorFolded(analyticsLines(), "Analytics queue is full; the oldest event is dropped.");
        inFlight_.erase(queue.front()["id"].stringValue());
        queue.erase(queue.begin());
    }
    std::string identifier = NSUUID::UUID()->UUIDString();
    Value entry = Value::dictionary({{"id", identifier}, {"url", url}});
    if (after) entry.set("after", *after);
    queue.push_back(std::move(entry));
    storeQueue(queue);
    return identifier;
}

void TRAAnalytics::flush() {
    if (!TRAMetadata::sharedMetadata()->isAnalyticsEnabled()) return;
    Value::Array queue = storedQueue();
    std::set<std::string> queued;
    for (const Value& entry : queue) queued.insert(*entry["id"].string());
    // An event whose predecessor is still queued goes when that one ends.
    for (const Value& entry : queue)
        if (!entry["after"].isString() || !queued.count(*entry["after"].string()))
            send(*entry["id"].string(), *entry["url"].string());
}

void TRAAnalytics::send(const std::string& identifier, const std::string& url) {
    if (!inFlight_.insert(identifier).second) return;
    Weak<TRAAnalytics> weak = self<TRAAnalytics>();
    TRATransportHttp::sendAsynchronousRequest(
        url, [weak, identifier](Ref<NSHTTPURLResponse> http, std::optional<NSData>, Ref<NSError> error) {
            auto analytics = weak.lock();
            if (!analytics) return;
            // A server error may pass; anything else it answered is final.
            bool delivered = !error && (!http || http->statusCode() < 500);
            analytics->finished(identifier, delivered);
        });
}

void TRAAnalytics::finished(const std::string& identifier, bool delivered) {
    inFlight_.erase(identifier);
    Value::Array queue = storedQueue();
    if (delivered) {
        std::erase_if(queue, [&](const Value& entry) { return *entry["id"].string() == identifier; });
        storeQueue(queue);
    }
    // A failed event stays queued for later; the next in its sequence goes all the same.
    for (const Value& entry : queue)
        if (entry["after"].isString() && *entry["after"].string() == identifier)
            send(*entry["id"].string(), *entry["url"].string());
}
