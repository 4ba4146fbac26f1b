// The in-memory LRU cache: recency order, replacement resetting creation,
// strict time-to-live and time-to-idle on the virtual clock, a delegate's
// veto keeping an expired entry and holding the count limit up, a delegate
// that reads the cache while asked, and use from several threads.
#include <gtest/gtest.h>

#include <thread>

#include "halcyon/core/HLLRUCache.h"
#include "platform/testing/PlatformTest.h"

namespace {

// Vetoes the evictions of the keys it is told to keep, recording each question.
class HLLRUCacheTestDelegate : public NSObject, public HLLRUCacheDelegate {
public:
    bool cacheShouldEvictObject(const Ref<HLLRUCache>& cache, const Value&, const Value& key) override {
        asked.push_back(key.stringValue());
        if (readWhileAsked) cache->count();
        return std::find(keep.begin(), keep.end(), key.stringValue()) == keep.end();
    }
    PLATFORM_RESPONDS_TO("cache:shouldEvictObject:withKey:")
    std::vector<std::string> keep;
    std::vector<std::string> asked;
    bool readWhileAsked = false;
};

class HLLRUCacheTest : public platform::testing::PlatformTest {
protected:
    static std::vector<std::string> order(const Ref<HLLRUCache>& cache) {
        std::vector<std::string> keys;
        for (const Value& key : cache->keysByRecency()) keys.push_back(key.stringValue());
        return keys;
    }
};

TEST_F(HLLRUCacheTest, TheLeastRecentlyUsedEntryGoesFirst) {
    auto cache = NSObject::alloc<HLLRUCache>()->initWithCountLimit(2);
    cache->setObject(Value(1), Value("k1"));
    cache->setObject(Value(2), Value("k2"));
    EXPECT_EQ(cache->objectForKey(Value("k1")), Value(1));
    cache->setObject(Value(3), Value("k3"));
    EXPECT_EQ(order(cache), (std::vector<std::string>{"k1", "k3"}));
    EXPECT_TRUE(cache->objectForKey(Value("k2")).isNull());

    // Replacing a key makes it the most recent, with a new object.
    cache->setObject(Value(10), Value("k1"));
    EXPECT_EQ(order(cache), (std::vector<std::string>{"k3", "k1"}));
    EXPECT_EQ(cache->objectForKey(Value("k1")), Value(10));
    cache->setObject(Value(), Value("k4"));  // nothing for a null object or key
    cache->setObject(Value(4), Value());
    EXPECT_EQ(cache->count(), 2u);
    cache->removeObjectForKey(Value("k3"));
    EXPECT_EQ(order(cache), (std::vector<std::string>{"k1"}));
    cache->removeAllObjects();
    EXPECT_EQ(cache->count(), 0u);
    EXPECT_TRUE(cache->allKeys().empty());
}

TEST_F(HLLRUCacheTest, LifetimesAreStrictAndReplacementRestartsTheLife) {
    auto cache = NSObject::alloc<HLLRUCache>()->initWithCountLimit(0, 10, 0);
    cache->setObject(Value("v"), Value("live"));
    driver().advance(5);
    cache->setObject(Value("w"), Value("live"));  // created again
    driver().advance(10);
    EXPECT_EQ(cache->objectForKey(Value("live")), Value("w"));  // exactly 10 s: not over
    driver().advance(1);
    EXPECT_EQ(cache->count(), 1u);  // counted until read
    EXPECT_TRUE(cache->objectForKey(Value("live")).isNull());
    EXPECT_EQ(cache->count(), 0u);

    auto idle = NSObject::alloc<HLLRUCache>()->initWithCountLimit(0, 0, 3);
    idle->setObject(Value("v"), Value("idle"));
    for (int i = 0; i < 4; ++i) {
        driver().advance(3);  // each read restarts the idle time
        EXPECT_EQ(idle->objectForKey(Value("idle")), Value("v"));
    }
    driver().advance(3.5);
    EXPECT_TRUE(idle->objectForKey(Value("idle")).isNull());
}

TEST_F(HLLRUCacheTest, AVetoKeepsAnExpiredEntryAndHoldsTheLimitUp) {
    auto delegate = NSObject::alloc<HLLRUCacheTestDelegate>();
    delegate->keep = {"pinned"};
    delegate->readWhileAsked = true;
    auto cache = NSObject::alloc<HLLRUCache>()->initWithCountLimit(2, 10, 0);
    cache->setDelegate(delegate);
    cache->setObject(Value("p"), Value("pinned"));
    driver().advance(11);
    EXPECT_EQ(cache->objectForKey(Value("pinned")), Value("p"));  // vetoed: still readable
    EXPECT_EQ(delegate->asked, (std::vector<std::string>{"pinned"}));

    // Over the limit: the vetoed entry stays and the veto counts as one of
    // the evictions, so the cache may stay over its limit until the next write.
    cache->setObject(Value(1), Value("a"));
    cache->setObject(Value(2), Value("b"));
    EXPECT_EQ(order(cache), (std::vector<std::string>{"pinned", "a", "b"}));
    cache->setObject(Value(3), Value("c"));
    EXPECT_EQ(order(cache), (std::vector<std::string>{"pinned", "b", "c"}));
    delegate->keep = {"pinned", "b", "c"};
    cache->setObject(Value(4), Value("d"));
    EXPECT_EQ(order(cache), (std::vector<std::string>{"pinned", "b", "c", "d"}));
    cache->setDelegate(nullptr);
    cache->setObject(Value(5), Value("e"));
    EXPECT_EQ(order(cache), (std::vector<std::string>{"d", "e"}));
}

TEST_F(HLLRUCacheTest, ConcurrentReadersAndWriters) {
    auto cache = NSObject::alloc<HLLRUCache>()->initWithCountLimit(16, 100, 50);
    auto delegate = NSObject::alloc<HLLRUCacheTestDelegate>();
    delegate->keep = {"k0"};
    cache->setDelegate(delegate);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([cache, t] {
            for (int i = 0; i < 500; ++i) {
                Value key("k" + std::to_string((i * 7 + t) % 40));
                if (i % 3 == 0) cache->setObject(Value(i), key);
                else cache->objectForKey(key);
                if (i % 50 == 0) cache->allValues();
                if (i % 97 == 0) cache->removeObjectForKey(key);
            }
        });
    for (auto& thread : threads) thread.join();
    // Both collections agree, and the limit holds (one pinned entry may stay above it).
    EXPECT_EQ(cache->keysByRecency().size(), cache->count());
    EXPECT_LE(cache->count(), 17u);
}

}  // namespace
