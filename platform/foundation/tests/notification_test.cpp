#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/foundation/KeyValueObserving.h"
#include "platform/foundation/LogCapture.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/runtime/NSThread.h"

using platform::testing::LogCapture;

namespace {

// Records its deliveries; runs an optional action inside each.
class Listener : public NSObject {
public:
    std::string label;
    std::vector<std::string>* journal = nullptr;
    std::function<void(const NSNotification&)> action;

    void receive(const NSNotification& n) {
        if (journal) journal->push_back(label + ":" + n.name);
        if (action) action(n);
    }
};

Ref<Listener> listener(std::string label, std::vector<std::string>* journal) {
    auto l = NSObject::alloc<Listener>();
    l->label = std::move(label);
    l->journal = journal;
    return l;
}

// Unregisters itself when destroyed.
class SelfRemovingListener : public NSObject {
public:
    int calls = 0;
    void receive(const NSNotification&) { ++calls; }
    ~SelfRemovingListener() override { NSNotificationCenter::defaultCenter()->removeObserver(this); }
};

class Watcher : public NSObject {
public:
    std::vector<std::string> seen;
    bool raise = false;
    void observeValueForKeyPath(const std::string& keyPath, Ref<NSObject> object, const Value& change,
                                void* context) override {
        seen.push_back(keyPath + " " + change.description() + (object ? " object" : " none") +
                       (context ? " ctx" : ""));
        if (raise) throw std::runtime_error("observer failed");
    }
};

}  // namespace

class NotificationTest : public ::testing::Test {
protected:
    void SetUp() override { platform::runtime::setMainThread(); }
    Ref<NSNotificationCenter> center = NSNotificationCenter::defaultCenter();
    std::vector<std::string> journal;
    LogCapture capture{false};
};

TEST_F(NotificationTest, DeliversInRegistrationOrderByNameAndObjectIdentity) {
    auto sender = NSObject::alloc();
    auto other = NSObject::alloc();
    auto a = listener("a", &journal), b = listener("b", &journal), c = listener("c", &journal),
         d = listener("d", &journal);
    center->addObserver(a, &Listener::receive, "N", nullptr);
    center->addObserver(b, &Listener::receive, "", sender);  // any name from sender
    center->addObserver(c, &Listener::receive, "N", other);
    center->addObserver(d, &Listener::receive, "M", nullptr);
    center->addObserver(a, &Listener::receive, "N", sender);  // a second registration: called twice
    center->postNotificationName("N", sender, Value::dictionary({{"k", 1}}));
    EXPECT_EQ(journal, (std::vector<std::string>{"a:N", "b:N", "a:N"}));

    journal.clear();
    center->removeObserver(a.get(), "N", sender);
    center->postNotificationName("N", sender);
    EXPECT_EQ(journal, (std::vector<std::string>{"a:N", "b:N"}));
    center->removeObserver(a);
    center->removeObserver(b.get());
    center->removeObserver(c.get());
    center->removeObserver(d.get());
}

TEST_F(NotificationTest, ObserversRemovedDuringAPostAreNotCalledAndOnesAddedAreNotEither) {
    auto a = listener("a", &journal), b = listener("b", &journal), c = listener("c", &journal),
         late = listener("late", &journal);
    a->action = [&](const NSNotification&) {
        center->removeObserver(b.get());
        center->addObserver(late, &Listener::receive, "N", nullptr);
    };
    center->addObserver(a, &Listener::receive, "N", nullptr);
    center->addObserver(b, &Listener::receive, "N", nullptr);
    center->addObserver(c, &Listener::receive, "N", nullptr);
    center->postNotificationName("N", nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"a:N", "c:N"}));
    journal.clear();
    a->action = nullptr;
    center->postNotificationName("N", nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"a:N", "c:N", "late:N"}));
}

TEST_F(NotificationTest, ObserversAreHeldWeaklyAndExpiredOnesAreSkipped) {
    auto gone = listener("gone", &journal);
    const Weak<Listener> watch = gone;
    center->addObserver(gone, &Listener::receive, "N", nullptr);
    gone.reset();
    EXPECT_TRUE(watch.expired());  // the center kept no strong reference
    center->postNotificationName("N", nullptr);
    EXPECT_TRUE(journal.empty());

    auto selfRemoving = NSObject::alloc<SelfRemovingListener>();
    center->addObserver(selfRemoving, &SelfRemovingListener::receive, "N", nullptr);
    center->postNotificationName("N", nullptr);
    EXPECT_EQ(selfRemoving->calls, 1);
    selfRemoving.reset();
    center->postNotificationName("N", nullptr);
}

TEST_F(NotificationTest, AnObserversExceptionIsLoggedAndDeliveryGoesOn) {
    auto thrower = listener("thrower", &journal), after = listener("after", &journal);
    thrower->action = [](const NSNotification&) { throw std::runtime_error("boom"); };
    center->addObserver(thrower, &Listener::receive, "N", nullptr);
    center->addObserver(after, &Listener::receive, "N", nullptr);
    center->postNotificationName("N", nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"thrower:N", "after:N"}));
    EXPECT_TRUE(capture.contains("notification N: uncaught exception: boom"));
}

TEST_F(NotificationTest, ReentrantPostsFromAnObserverDoNotDeadlock) {
    auto outer = listener("outer", &journal), inner = listener("inner", &journal);
    outer->action = [&](const NSNotification&) { center->postNotificationName("Inner", nullptr); };
    center->addObserver(outer, &Listener::receive, "Outer", nullptr);
    center->addObserver(inner, &Listener::receive, "Inner", nullptr);
    center->postNotificationName("Outer", nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"outer:Outer", "inner:Inner"}));
}

TEST_F(NotificationTest, BlockObserversRunInlineOrOnTheirQueueUntilTheTokenIsRemoved) {
    std::thread::id inlineThread, queueThread;
    std::atomic<int> queued{0};
    auto inlineToken = center->addObserverForName("N", nullptr, nullptr, [&](const NSNotification& n) {
        inlineThread = std::this_thread::get_id();
        EXPECT_EQ(n.userInfo["x"].integerValue(), 5);
    });
    auto queue = NSOperationQueue::alloc()->init();
    auto queueToken = center->addObserverForName("N", nullptr, queue, [&](const NSNotification& n) {
        queueThread = std::this_thread::get_id();
        queued += static_cast<int>(n.userInfo["x"].integerValue());
    });
    center->postNotificationName("N", nullptr, Value::dictionary({{"x", 5}}));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(inlineThread, std::this_thread::get_id());
    EXPECT_NE(queueThread, std::this_thread::get_id());
    EXPECT_EQ(queued.load(), 5);

    center->removeObserver(inlineToken.get());
    center->removeObserver(queueToken.get());
    center->postNotificationName("N", nullptr, Value::dictionary({{"x", 5}}));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queued.load(), 5);
}

TEST_F(NotificationTest, PostingAndRegisteringFromManyThreadsIsSafe) {
    std::atomic<int> delivered{0};
    auto token = center->addObserverForName("Count", nullptr, nullptr, [&](const NSNotification&) { ++delivered; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                auto temporary = listener("t", nullptr);
                center->addObserver(temporary, &Listener::receive, "Count", nullptr);
                center->postNotificationName("Count", nullptr);
                if (i % 2) center->removeObserver(temporary.get());
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(delivered.load(), 800);
    center->removeObserver(token.get());
}

TEST_F(NotificationTest, KeyValueObservationInitialNewAndOld) {
    auto model = NSObject::alloc();
    auto watcher = NSObject::alloc<Watcher>();
    int context = 0;
    KeyValueObserving::addObserver(*model, watcher, "rate",
                                   NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld |
                                       NSKeyValueObservingOptionInitial,
                                   &context, Value(0.0));
    ASSERT_EQ(watcher->seen.size(), 1u);  // inside addObserver
    EXPECT_EQ(watcher->seen[0], "rate {\n    new = 0;\n} object ctx");
    KeyValueObserving::didChangeValueForKey(*model, "rate", Value(0.0), Value(1.0));
    KeyValueObserving::didChangeValueForKey(*model, "status", Value(0), Value(1));  // not observed
    ASSERT_EQ(watcher->seen.size(), 2u);
    EXPECT_EQ(watcher->seen[1], "rate {\n    new = 1;\n    old = 0;\n} object ctx");
    EXPECT_TRUE(KeyValueObserving::hasObservers(*model, "rate"));

    KeyValueObserving::removeObserver(*model, watcher.get(), "rate", &context);
    EXPECT_FALSE(KeyValueObserving::hasObservers(*model, "rate"));
    KeyValueObserving::didChangeValueForKey(*model, "rate", Value(1.0), Value(2.0));
    EXPECT_EQ(watcher->seen.size(), 2u);
    KeyValueObserving::removeObserver(*model, watcher.get(), "rate", &context);
    EXPECT_TRUE(capture.contains("not registered for \"rate\""));
}

TEST_F(NotificationTest, KeyValueObserversAreWeakAndTheirExceptionsLogged) {
    auto model = NSObject::alloc();
    auto thrower = NSObject::alloc<Watcher>();
    auto gone = NSObject::alloc<Watcher>();
    auto after = NSObject::alloc<Watcher>();
    thrower->raise = true;
    KeyValueObserving::addObserver(*model, thrower, "status", NSKeyValueObservingOptionNew, nullptr);
    KeyValueObserving::addObserver(*model, gone, "status", NSKeyValueObservingOptionNew, nullptr);
    KeyValueObserving::addObserver(*model, after, "status", NSKeyValueObservingOptionNew, nullptr);
    const Weak<Watcher> watch = gone;
    gone.reset();
    EXPECT_TRUE(watch.expired());
    KeyValueObserving::didChangeValueForKey(*model, "status", Value(0), Value(2));
    EXPECT_EQ(thrower->seen.size(), 1u);
    EXPECT_EQ(after->seen.size(), 1u);
    EXPECT_TRUE(capture.contains("key-value observation status: uncaught exception: observer failed"));

    // A model that went away takes its observers with it, even if a new one
    // takes its place in memory.
    model.reset();
    auto next = NSObject::alloc();
    EXPECT_FALSE(KeyValueObserving::hasObservers(*next, "status"));
}
