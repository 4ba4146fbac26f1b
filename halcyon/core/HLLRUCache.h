// A thread-safe in-memory key-value cache: a count limit with
// least-recently-used eviction, an optional time-to-live from insertion and
// an optional time-to-idle from the last read (strict comparisons, seconds,
// on the platform clock), and an optional delegate that may veto an
// eviction. Keys and objects are values (compared with Value::isEqual).
// A library component: nothing in the client creates one yet.
//
// Any thread: every operation takes one recursive lock, and the delegate is
// asked while it is held (it may read the cache, on that thread).
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLLRUCache;

class HLLRUCacheEntry : public NSObject {
public:
    // Created and accessed now.
    Ref<HLLRUCacheEntry> initWithObject(Value object, Value key);

    const Value& key() const { return key_; }
    const Value& object() const { return object_; }
    // Seconds since 2001-01-01.
    double created() const { return created_; }
    double accessed() const { return accessed_; }
    void setAccessed(double accessed) { accessed_ = accessed; }

private:
    Value key_;
    Value object_;
    double created_ = 0;
    double accessed_ = 0;
};

// Asked, with the cache's lock held, before an entry is evicted for its age
// or the count limit (never for removeObjectForKey or removeAllObjects).
class HLLRUCacheDelegate : public virtual NSObjectProtocol {
public:
    // Optional ("cache:shouldEvictObject:withKey:"); false keeps the entry.
    virtual bool cacheShouldEvictObject(const Ref<HLLRUCache>& cache, const Value& object, const Value& key);
};

class HLLRUCache : public NSObject {
public:
    // No limits.
    Ref<HLLRUCache> init();
    Ref<HLLRUCache> initWithCountLimit(uint32_t countLimit);
    // 0 means no limit, for each of the three.
    Ref<HLLRUCache> initWithCountLimit(uint32_t countLimit, double timeToLive, double timeToIdle);

    // Null when absent, or when expired and evicted. A read (also of an
    // expired entry whose eviction was vetoed) makes the entry the most recent.
    Value objectForKey(const Value& key);
    // Null object or key: nothing. Replaces an entry of the key (its
    // creation time too), then evicts past the count limit from the least
    // recently used; a vetoed eviction still counts, so the cache may stay
    // over its limit until the next write.
    void setObject(const Value& object, const Value& key);
    void removeObjectForKey(const Value& key);
    void removeAllObjects();
    // Without expiry checks.
    std::vector<Value> allKeys() const;
    std::vector<Value> allValues() const;
    size_t count() const;
    // The keys from least to most recently used.
    std::vector<Value> keysByRecency() const;

    // Changes apply from the next read or write.
    uint32_t countLimit() const;
    void setCountLimit(uint32_t countLimit);
    double timeToLive() const;
    void setTimeToLive(double seconds);
    double timeToIdle() const;
    void setTimeToIdle(double seconds);
    Ref<HLLRUCacheDelegate> delegate() const;
    void setDelegate(const Ref<HLLRUCacheDelegate>& delegate);

    // The steps, each under the lock.
    bool evictCacheEntryAtTimeIndex(size_t index);
    bool evictCacheEntry(const Ref<HLLRUCacheEntry>& entry);
    void evictObjectsExceedingCountLimit();
    bool isTimeToLiveExpiredForEntry(const Ref<HLLRUCacheEntry>& entry) const;
    bool isTimeToIdleExpiredForEntry(const Ref<HLLRUCacheEntry>& entry) const;

private:
    struct ValueHash {
        size_t operator()(const Value& value) const { return value.hash(); }
    };
    struct ValueEqual {
        bool operator()(const Value& a, const Value& b) const { return a.isEqual(b); }
    };

    mutable std::recursive_mutex entriesLock_;  // guards everything below
    uint32_t countLimit_ = 0;
    double timeToLive_ = 0;
    double timeToIdle_ = 0;
    Weak<HLLRUCacheDelegate> delegate_;
    std::unordered_map<Value, Ref<HLLRUCacheEntry>, ValueHash, ValueEqual> entries_;
    std::vector<Ref<HLLRUCacheEntry>> entriesByTime_;  // least recently used first
};
