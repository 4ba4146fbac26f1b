#include <cmath>

#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/RunLoopTimer.h"
#include "platform/runtime/tests/RuntimeTestSupport.h"

namespace {

using platform::runtime::postToMainThread;
using platform::runtime::RunLoopTimer;

class RunLoopTest : public RuntimeTest {};

Ref<RunLoopTimer> oneShot(double seconds, Trace& trace, std::string name) {
    return RunLoopTimer::scheduledTimerWithTimeInterval(seconds, false,
                                                   [&trace, name](const Ref<RunLoopTimer>&) { trace.add(name); });
}

TEST_F(RunLoopTest, PostedWorkFromEverySourceRunsInOneFifoAndNeverInline) {
    Trace trace;
    auto object = NSObject::alloc();
    dispatch_async(dispatch_get_main_queue(), [&] { trace.add("dispatch"); });
    NSOperationQueue::mainQueue()->addOperationWithBlock([&] { trace.add("operation"); });
    object->performSelectorOnMainThread([&] { trace.add("perform"); }, false);
    postToMainThread([&] { trace.add("post"); });
    dispatch_async(dispatch_get_main_queue(), [&] { trace.add("dispatch2"); });
    EXPECT_EQ(trace.size(), 0u);  // posting from main never runs inline
    driver_.drain();
    EXPECT_EQ(trace.events(), (std::vector<std::string>{"dispatch", "operation", "perform", "post", "dispatch2"}));
}

TEST_F(RunLoopTest, TimersFireByDeadlineThenSchedulingOrderAfterPostedWork) {
    Trace trace;
    auto late = oneShot(2, trace, "late");
    auto firstAtOne = oneShot(1, trace, "first@1");
    auto secondAtOne = oneShot(1, trace, "second@1");
    postToMainThread([&] { trace.add("posted"); });
    driver_.advance(5);
    EXPECT_EQ(trace.events(), (std::vector<std::string>{"posted", "first@1", "second@1", "late"}));
    // A timer whose fire date passed during a sleep fires at the next pass, after the posted work.
    Trace second;
    auto woken = oneShot(1, second, "timer");
    NSThread::sleepForTimeInterval(3);
    EXPECT_EQ(second.size(), 0u);  // nothing runs during the sleep
    postToMainThread([&] { second.add("posted"); });
    platform::runtime::runMainPass();
    EXPECT_EQ(second.events(), (std::vector<std::string>{"posted", "timer"}));
}

TEST_F(RunLoopTest, APassRunsOnlyWhatWasQueuedWhenItBeganSoRepostingCannotStarveTimers) {
    int reposts = 0;
    std::function<void()> repost = [&] {
        ++reposts;
        postToMainThread(repost);
    };
    postToMainThread(repost);
    bool fired = false;
    auto timer = RunLoopTimer::scheduledTimerWithTimeInterval(1, false, [&](const Ref<RunLoopTimer>&) { fired = true; });
    clock_->advanceBy(1);
    platform::runtime::runMainPass();
    EXPECT_EQ(reposts, 1);
    EXPECT_TRUE(fired);
    platform::runtime::runMainPass();
    EXPECT_EQ(reposts, 2);
}

TEST_F(RunLoopTest, DrainGivesUpOnWorkThatRepostsForeverAndSaysSo) {
    std::function<void()> repost = [&] { postToMainThread(repost); };
    postToMainThread(repost);
    driver_.drain();
    EXPECT_TRUE(logged("work keeps re-posting itself"));
}

TEST_F(RunLoopTest, OneShotIsValidDuringItsCallbackAndReleasesItsTargetAfter) {
    auto target = NSObject::alloc();
    Weak<NSObject> weakTarget = target;
    bool validInside = false;
    auto timer = RunLoopTimer::scheduledTimerWithTimeInterval(
        0.5, false, [target, &validInside](const Ref<RunLoopTimer>& t) { validInside = t->isValid(); });
    target.reset();
    EXPECT_FALSE(weakTarget.expired());  // held while scheduled
    driver_.advance(0.5);
    EXPECT_TRUE(validInside);
    EXPECT_FALSE(timer->isValid());
    EXPECT_TRUE(weakTarget.expired());
}

TEST_F(RunLoopTest, InvalidatedByAnotherCallbackOfTheSamePassItDoesNotFire) {
    Trace trace;
    Ref<RunLoopTimer> victim;
    auto killer = RunLoopTimer::scheduledTimerWithTimeInterval(1, false, [&](const Ref<RunLoopTimer>&) {
        trace.add("killer");
        victim->invalidate();
        victim->invalidate();  // idempotent
    });
    victim = oneShot(1, trace, "victim");
    auto target = NSObject::alloc();
    Weak<NSObject> weakTarget = target;
    auto repeating = RunLoopTimer::scheduledTimerWithTimeInterval(1, true, [target](const Ref<RunLoopTimer>&) {});
    target.reset();
    driver_.advance(1);
    EXPECT_EQ(trace.events(), (std::vector<std::string>{"killer"}));
    EXPECT_FALSE(victim->isValid());
    // A repeating timer holds its target until invalidated, from any thread.
    EXPECT_FALSE(weakTarget.expired());
    std::thread([&] { repeating->invalidate(); }).join();
    EXPECT_TRUE(weakTarget.expired());
}

TEST_F(RunLoopTest, RepeatingTimerFiresTenTimesOverTenSecondsEachAtItsFireDate) {
    std::vector<double> seen;
    int mismatches = 0;
    auto timer = RunLoopTimer::scheduledTimerWithTimeInterval(1, true, [&](const Ref<RunLoopTimer>& t) {
        seen.push_back(clock_->uptime());
        if (t->fireTimeIntervalSince1970() != Clock::current()->now()) ++mismatches;
    });
    double start = clock_->now();
    driver_.advance(10);
    ASSERT_EQ(seen.size(), 10u);
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], static_cast<double>(i + 1));
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(clock_->now(), start + 10);
    EXPECT_EQ(timer->timeInterval(), 1);
    timer->invalidate();
}

TEST_F(RunLoopTest, VirtualDriverFiresEveryRepetitionLeftBehindBySleep) {
    int count = 0;
    auto timer = RunLoopTimer::scheduledTimerWithTimeInterval(1, true, [&](const Ref<RunLoopTimer>&) { ++count; });
    NSThread::sleepForTimeInterval(4.5);
    driver_.drain();
    EXPECT_EQ(count, 4);
    timer->invalidate();
}

// A real-time clock the test moves by hand.
class HandClock : public Clock {
public:
    double now() const override { return 1000 + uptime_; }
    double uptime() const override { return uptime_; }
    double wallTimeForUptime(double u) const override { return 1000 + u; }
    void sleep(double seconds) override { uptime_ += seconds; }
    double uptime_ = 0;
};

TEST_F(RunLoopTest, RealClockCoalescesLateRepetitionsIntoOneFiring) {
    auto hand = std::make_shared<HandClock>();
    Clock::setCurrent(hand);
    int count = 0;
    auto timer = RunLoopTimer::scheduledTimerWithTimeInterval(1, true, [&](const Ref<RunLoopTimer>&) { ++count; });
    hand->uptime_ = 4.5;
    driver_.drain();
    EXPECT_EQ(count, 1);
    EXPECT_EQ(timer->fireTimeIntervalSince1970(), 1005);  // next on the original grid
    timer->invalidate();
}

TEST_F(RunLoopTest, TinyIntervalsCountAsATenThousandthAndFireAfterAtLeastTheirInterval) {
    int count = 0;
    auto timer = RunLoopTimer::scheduledTimerWithTimeInterval(0, false, [&](const Ref<RunLoopTimer>&) { ++count; });
    driver_.drain();
    EXPECT_EQ(count, 0);  // not due until time moves
    driver_.advance(0.0001);
    EXPECT_EQ(count, 1);
    auto nanTimer = RunLoopTimer::scheduledTimerWithTimeInterval(std::nan(""), true, [&](const Ref<RunLoopTimer>&) { ++count; });
    EXPECT_EQ(nanTimer->timeInterval(), 0.0001);
    nanTimer->invalidate();
}

TEST_F(RunLoopTest, FireDateCanParkAndResumeATimer) {
    int count = 0;
    auto timer = RunLoopTimer::scheduledTimerWithTimeInterval(1, true, [&](const Ref<RunLoopTimer>&) { ++count; });
    double resumeAt = clock_->now() + 4.5;
    timer->setFireTimeIntervalSince1970(clock_->now() + 1e11);  // far future: parked
    driver_.advance(4);
    EXPECT_EQ(count, 0);
    timer->setFireTimeIntervalSince1970(resumeAt);
    driver_.advance(1);
    EXPECT_EQ(count, 1);
    driver_.advance(1);
    EXPECT_EQ(count, 2);
    timer->invalidate();
}

TEST_F(RunLoopTest, UnscheduledTimerWaitsForAddTimerFromAnyThreadAndFiresOnMain) {
    bool onMain = false;
    auto timer = RunLoopTimer::timerWithTimeInterval(1, false, [&](const Ref<RunLoopTimer>&) { onMain = NSThread::isMainThread(); });
    driver_.advance(2);
    EXPECT_FALSE(onMain);
    std::thread([&] { NSRunLoop::currentRunLoop()->addTimer(timer, NSRunLoopCommonModes); }).join();
    driver_.advance(0);  // overdue: fires at the next pass
    EXPECT_TRUE(onMain);
}

TEST_F(RunLoopTest, ManualFireRunsNowAndEndsAOneShot) {
    int count = 0;
    auto timer = RunLoopTimer::scheduledTimerWithTimeInterval(5, false, [&](const Ref<RunLoopTimer>&) { ++count; });
    timer->fire();
    EXPECT_EQ(count, 1);
    EXPECT_FALSE(timer->isValid());
    driver_.advance(10);
    EXPECT_EQ(count, 1);
}

TEST_F(RunLoopTest, ExceptionInATimerIsLoggedAndTheLoopGoesOn) {
    bool later = false;
    auto bad = RunLoopTimer::scheduledTimerWithTimeInterval(1, false, [](const Ref<RunLoopTimer>&) { throw std::runtime_error("boom"); });
    auto good = RunLoopTimer::scheduledTimerWithTimeInterval(1, false, [&](const Ref<RunLoopTimer>&) { later = true; });
    driver_.advance(1);
    EXPECT_TRUE(later);
    EXPECT_TRUE(logged("timer: uncaught exception: boom"));
}

TEST_F(RunLoopTest, PassHooksRunAfterTimersLayoutBeforeDisplay) {
    Trace trace;
    platform::runtime::addPassHook(platform::runtime::PassPhase::Display, [&] { trace.add("display"); });
    platform::runtime::addPassHook(platform::runtime::PassPhase::Layout, [&] { trace.add("layout"); });
    auto timer = oneShot(1, trace, "timer");
    clock_->advanceBy(1);
    postToMainThread([&] { trace.add("posted"); });
    platform::runtime::runMainPass();
    EXPECT_EQ(trace.events(), (std::vector<std::string>{"posted", "timer", "layout", "display"}));
}

TEST_F(RunLoopTest, DelayedCallsHoldTheReceiverAndCanBeCancelled) {
    Trace trace;
    auto object = NSObject::alloc();
    auto other = NSObject::alloc();
    Weak<NSObject> weakObject = object;
    object->performSelector([&] { trace.add("zero"); }, 0);
    object->performSelector([&] { trace.add("later"); }, 2);
    other->performSelector([&] { trace.add("other"); }, 2);
    object.reset();
    EXPECT_EQ(trace.size(), 0u);  // delay 0 is never inline
    driver_.drain();
    EXPECT_EQ(trace.events(), (std::vector<std::string>{"zero"}));
    EXPECT_FALSE(weakObject.expired());  // the pending call holds it
    NSObject::cancelPreviousPerformRequestsWithTarget(weakObject.lock());
    EXPECT_TRUE(weakObject.expired());
    driver_.advance(3);
    EXPECT_EQ(trace.events(), (std::vector<std::string>{"zero", "other"}));
}

TEST_F(RunLoopTest, PerformOnMainThreadWaitingFromAWorkerBlocksUntilMainRanIt) {
    auto object = NSObject::alloc();
    bool ranOnMain = false;
    bool inlineOnMain = false;
    object->performSelectorOnMainThread([&] { inlineOnMain = true; }, true);
    EXPECT_TRUE(inlineOnMain);  // waiting on main runs inline
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        object->performSelectorOnMainThread([&] { ranOnMain = NSThread::isMainThread(); }, true);
        returned = true;
    });
    EXPECT_TRUE(driver_.runUntil([&] { return returned.load(); }, 5));
    worker.join();
    EXPECT_TRUE(ranOnMain);
}

TEST_F(RunLoopTest, DispatchAfterRunsOnTheVirtualClockOnItsQueue) {
    Trace trace;
    std::atomic<bool> globalRan{false};
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 3 * NSEC_PER_SEC), dispatch_get_main_queue(), [&] {
        trace.add("main@" + std::to_string(static_cast<int>(clock_->uptime())));
    });
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 1 * NSEC_PER_SEC), dispatch_get_global_queue(0, 0),
                   [&] { globalRan = true; });
    dispatch_after(DISPATCH_TIME_FOREVER, dispatch_get_main_queue(), [&] { trace.add("never"); });
    driver_.advance(0.999);
    EXPECT_FALSE(globalRan.load());
    driver_.advance(0.001);
    EXPECT_TRUE(driver_.settle());
    EXPECT_TRUE(globalRan.load());
    driver_.advance(1.9);
    EXPECT_EQ(trace.size(), 0u);
    driver_.advance(0.1);
    EXPECT_EQ(trace.events(), (std::vector<std::string>{"main@3"}));
    driver_.advance(1000);
    EXPECT_EQ(trace.size(), 1u);
}

TEST_F(RunLoopTest, DispatchTimeSaturatesAndCountsFromUptime) {
    clock_->advanceBy(2);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_NOW, 0), 2 * NSEC_PER_SEC);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_NOW, -5 * static_cast<int64_t>(NSEC_PER_SEC)), 0u);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_FOREVER - 5, INT64_MAX), DISPATCH_TIME_FOREVER - 1);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_FOREVER, -1), DISPATCH_TIME_FOREVER);
    EXPECT_EQ(dispatch_time(100, INT64_MIN), 0u);
}

TEST_F(RunLoopTest, RunReturnsWhenStoppedFromAnotherThread) {
    std::atomic<int> passesWork{0};
    std::thread stopper([&] {
        dispatch_sync(dispatch_get_main_queue(), [&] { ++passesWork; });
        platform::runtime::stopMainRunLoop();
    });
    NSRunLoop::mainRunLoop()->run();
    stopper.join();
    EXPECT_EQ(passesWork.load(), 1);
}

TEST_F(RunLoopTest, RunUntilDateOnTheVirtualClockMovesTimeLikeTheDriver) {
    int count = 0;
    auto timer = RunLoopTimer::scheduledTimerWithTimeInterval(1, true, [&](const Ref<RunLoopTimer>&) { ++count; });
    NSRunLoop::mainRunLoop()->runUntilTimeIntervalSince1970(clock_->now() + 3.5);
    EXPECT_EQ(count, 3);
    EXPECT_NEAR(clock_->uptime(), 3.5, 1e-6);
    timer->invalidate();
}

}  // namespace
