// The client's analytics event sender: each event becomes one URL (see
// TRAWireContract.h), is queued and persisted in the user defaults under
// "TRAAnalyticsQueue", and sent; an event stays queued until the server has
// answered it, so the queue survives failures and restarts. Events sent as a
// sequence go one after the other, each once the one before has been
// answered or has failed, also when they are sent again after a restart.
// While the server has analytics switched off nothing is queued or sent.
// Main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/runtime/NSObject.h"

class TRAAnalytics : public NSObject {
public:
    static constexpr const char* kQueueKey = "TRAAnalyticsQueue";
    static constexpr size_t kMaximumQueuedEvents = 100;

    // Categories used by the display side.
    enum : int64_t {
        CategoryFailedImpression = 2,
        CategoryFailedSmartRedirect = 3,
        CategoryCannotOpenTarget = 4,
        CategoryInfoSmartRedirect = 5,
        CategoryOtherSdks = 7,
        CategoryFailedVideoEvent = 9,
        CategoryFailedPlayVideo = 10,
    };

    struct Event {
        int64_t category;
        std::optional<std::string> details;
        std::string value;
    };

    // Builds, queues, persists and sends one event; fire and forget. Events
    // still queued from before go at the next sendPendingEvents (the
    // configuration's arrival calls it).
    static void sendAnalyticsURLWithCategory(int64_t category, const std::optional<std::string>& details,
                                             const std::string& value, const std::optional<std::string>& dParams);
    // Queues the events together and sends them in their order: the first at
    // once, each next one when the one before has been answered or has failed.
    static void sendAnalyticsEventsInOrder(const std::vector<Event>& events, const std::optional<std::string>& dParams);
    // Sends every queued event not already on its way (when analytics are on).
    static void sendPendingEvents();
    // How many events are queued.
    static size_t queuedEventCount();

private:
    static Ref<TRAAnalytics> shared();
    // The event's URL; nullopt while analytics are switched off.
    static std::optional<std::string> eventURL(const Event& event, const std::optional<std::string>& dParams);
    // Stores the event, to be sent after the queued event `after` (when
    // given); returns its identifier.
    std::string enqueue(const std::string& url, const std::optional<std::string>& after = std::nullopt);
    void flush();
    void send(const std::string& identifier, const std::string& url);
    // Drops a delivered event from the queue, then sends the events that
    // waited for it.
    void finished(const std::string& identifier, bool delivered);

    std::set<std::string> inFlight_;  // identifiers of events being sent
};
