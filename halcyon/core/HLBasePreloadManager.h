// The preload queues of one kind of ad, one per spec, and the initial
// preload merge: a first load of a spec may attach itself to a preload
// request of that spec that is scheduled or in flight instead of sending a
// request of its own. Each preload request carries the spec it asked for;
// its result, success or failure, answers the attached load (the ad is then
// not queued) and marks that spec's first preload completed; an ad nobody
// waits for is queued under its own parsed spec, or dropped with a log line
// when that spec has no queue. Subclasses supply the queues, the request
// task and the delegate calls.
//
// Requests run on task queue 0; takers and registrations come from any
// thread. Lock order: an ad load state, then this manager's lock, then a
// queue's own. No lock is held while a delegate is told.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "halcyon/core/HLAdSpec.h"
#include "platform/runtime/NSObject.h"

class HLLogManager;
class HLPreloadedAdQueue;
class HLSdk;
class HLTask;

class HLBasePreloadManager : public NSObject {
public:
    // The queues come from createPreloadedAdsDictionary, once, at their first
    // use (so they follow the settings the client loads after making this).
    Ref<HLBasePreloadManager> initWithSdk(const Ref<HLSdk>& sdk);

    bool hasPreloadedAdOfSpec(const Ref<HLAdSpec>& spec);
    bool hasFullPreloadQueueForSpec(const Ref<HLAdSpec>& spec);
    // One request 0.5 s from now, when preloading is on (slot 26) and the
    // spec's queue exists and is not full. Requests in flight are not
    // counted: surplus ads are dropped by the full queue.
    void preloadNextAdOfSpec(const Ref<HLAdSpec>& spec);
    // As many requests as the queue has free places.
    void fillPreloadQueueForSpec(const Ref<HLAdSpec>& spec);
    // The oldest ready ad, taken out of its queue, or null.
    Ref<NSObject> preloadedLoadableOfSpec(const Ref<HLAdSpec>& spec);
    bool isInitialPreloadCompletedForSpec(const Ref<HLAdSpec>& spec);
    // True (and `delegate` attached) while the spec's first preload has not
    // ended and one of its requests is scheduled or in flight.
    bool registerForInitialPreloadCallback(const Ref<NSObjectProtocol>& delegate, const Ref<HLAdSpec>& spec);
    void registerForPreloadCallback(const Ref<NSObjectProtocol>& delegate, const Ref<HLAdSpec>& spec);

    // The results of a preload request for `requestedSpec`.
    void didReceiveLoadable(const Ref<NSObject>& loadable, const Ref<HLAdSpec>& requestedSpec);
    void didFailToReceiveLoadableWithSpec(const Ref<HLAdSpec>& requestedSpec, int32_t code);

protected:
    using QueueTable = std::vector<std::pair<Ref<HLAdSpec>, Ref<HLPreloadedAdQueue>>>;

    virtual QueueTable createPreloadedAdsDictionary() = 0;
    virtual Ref<HLTask> createPreloadTaskForSpec(const Ref<HLAdSpec>& spec) = 0;
    virtual Ref<HLAdSpec> specForLoadable(const Ref<NSObject>& loadable) = 0;
    virtual void notifyDelegateOfSuccessWithLoadable(const Ref<NSObjectProtocol>& delegate,
                                                     const Ref<NSObject>& loadable) = 0;
    virtual void notifyDelegateOfFailureForSpec(const Ref<NSObjectProtocol>& delegate, const Ref<HLAdSpec>& spec,
                                                int32_t code) = 0;

    Ref<HLSdk> sdk() const { return sdk_.lock(); }
    Ref<HLLogManager> logger() const;
    // A queue of the capacity the settings slot holds (see HLPreloadedAdQueue).
    Ref<HLPreloadedAdQueue> queueWithCapacityOfSlot(int64_t slot) const;

private:
    // Look-ups under preloadedAdsLock_.
    Ref<HLPreloadedAdQueue> queueForSpecLocked(const Ref<HLAdSpec>& spec);
    Ref<NSObjectProtocol> takeAdditionalDelegateLocked(const Ref<HLAdSpec>& spec);
    void requestEndedLocked(const Ref<HLAdSpec>& spec);

    Weak<HLSdk> sdk_;
    mutable std::recursive_mutex preloadedAdsLock_;  // guards the tables below and the choice of queue
    QueueTable preloadedAds_;
    bool queuesBuilt_ = false;
    std::vector<std::pair<Ref<HLAdSpec>, Ref<NSObjectProtocol>>> additionalDelegates_;
    std::vector<Ref<HLAdSpec>> completedInitialPreloads_;
    std::vector<std::pair<Ref<HLAdSpec>, uint32_t>> requestsInFlight_;  // scheduled or running
};
