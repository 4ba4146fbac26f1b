#include "halcyon/core/HLLRUCache.h"

#include <algorithm>

#include "platform/runtime/NSDate.h"

namespace {
double hlCacheNow() { return NSDate::date().timeIntervalSinceReferenceDate(); }
}  // namespace

Ref<HLLRUCacheEntry> HLLRUCacheEntry::initWithObject(Value object, Value key) {
    object_ = std::move(object);
    key_ = std::move(key);
    created_ = accessed_ = hlCacheNow();
    return self<HLLRUCacheEntry>();
}

bool HLLRUCacheDelegate::cacheShouldEvictObject(const Ref<HLLRUCache>&, const Value&, const Value&) { return true; }

Ref<HLLRUCache> HLLRUCache::init() { return initWithCountLimit(0); }
Ref<HLLRUCache> HLLRUCache::initWithCountLimit(uint32_t countLimit) { return initWithCountLimit(countLimit, 0, 0); }

Ref<HLLRUCache> HLLRUCache::initWithCountLimit(uint32_t countLimit, double timeToLive, double timeToIdle) {
    std::scoped_lock lock(entriesLock_);
    countLimit_ = countLimit;
    timeToLive_ = timeToLive;
    timeToIdle_ = timeToIdle;
    return self<HLLRUCache>();
}

// ---- Reading and writing

Value HLLRUCache::objectForKey(const Value& key) {
    if (key.isNull()) return Value();
    std::scoped_lock lock(entriesLock_);
    auto found = entries_.find(key);
    if (found == entries_.end()) return Value();
    Ref<HLLRUCacheEntry> entry = found->second;
    if ((isTimeToLiveExpiredForEntry(entry) || isTimeToIdleExpiredForEntry(entry)) && evictCacheEntry(entry))
        return Value();
    entry->setAccessed(hlCacheNow());
    std::erase(entriesByTime_, entry);
    entriesByTime_.push_back(entry);
    return entry->object();
}

void HLLRUCache::setObject(const Value& object, const Value& key) {
    if (object.isNull() || key.isNull()) return;
    std::scoped_lock lock(entriesLock_);
    if (auto found = entries_.find(key); found != entries_.end()) std::erase(entriesByTime_, found->second);
    auto entry = NSObject::alloc<HLLRUCacheEntry>()->initWithObject(object, key);
    entries_.insert_or_assign(key, entry);
    entriesByTime_.push_back(entry);
    evictObjectsExceedingCountLimit();
}

void HLLRUCache::removeObjectForKey(const Value& key) {
    std::scoped_lock lock(entriesLock_);
    auto found = entries_.find(key);
    if (found == entries_.end()) return;
    std::erase(entriesByTime_, found->second);
    entries_.erase(found);
}

void HLLRUCache::removeAllObjects() {
    std::scoped_lock lock(entriesLock_);
    entries_.clear();
    entriesByTime_.clear();
}

std::vector<Value> HLLRUCache::allKeys() const {
    std::scoped_lock lock(entriesLock_);
    std::vector<Value> keys;
    for (const auto& [key, entry] : entries_) keys.push_back(key);
    return keys;
}

std::vector<Value> HLLRUCache::allValues() const {
    std::scoped_lock lock(entriesLock_);
    std::vector<Value> values;
    for (const auto& [key, entry] : entries_) values.push_back(entry->object());
    return values;
}

size_t HLLRUCache::count() const {
    std::scoped_lock lock(entriesLock_);
    return entries_.size();
}

std::vector<Value> HLLRUCache::keysByRecency() const {
    std::scoped_lock lock(entriesLock_);
    std::vector<Value> keys;
    for (const auto& entry : entriesByTime_) keys.push_back(entry->key());
    return keys;
}

// ---- Limits and delegate

uint32_t HLLRUCache::countLimit() const {
    std::scoped_lock lock(entriesLock_);
    return countLimit_;
}
void HLLRUCache::setCountLimit(uint32_t countLimit) {
    std::scoped_lock lock(entriesLock_);
    countLimit_ = countLimit;
}
double HLLRUCache::timeToLive() const {
    std::scoped_lock lock(entriesLock_);
    return timeToLive_;
}
void HLLRUCache::setTimeToLive(double seconds) {
    std::scoped_lock lock(entriesLock_);
    timeToLive_ = seconds;
}
double HLLRUCache::timeToIdle() const {
    std::scoped_lock lock(entriesLock_);
    return timeToIdle_;
}
void HLLRUCache::setTimeToIdle(double seconds) {
    std::scoped_lock lock(entriesLock_);
    timeToIdle_ = seconds;
}
Ref<HLLRUCacheDelegate> HLLRUCache::delegate() const {
    std::scoped_lock lock(entriesLock_);
    return delegate_.lock();
}
void HLLRUCache::setDelegate(const Ref<HLLRUCacheDelegate>& delegate) {
    std::scoped_lock lock(entriesLock_);
    delegate_ = delegate;
}

// ---- Eviction

bool HLLRUCache::evictCacheEntryAtTimeIndex(size_t index) {
    std::scoped_lock lock(entriesLock_);
    if (index >= entriesByTime_.size()) return false;
    // Held here: the delegate may read the cache, which reorders the list.
    Ref<HLLRUCacheEntry> entry = entriesByTime_[index];
    Ref<HLLRUCacheDelegate> delegate = delegate_.lock();
    if (delegate && delegate->respondsToSelector("cache:shouldEvictObject:withKey:") &&
        !delegate->cacheShouldEvictObject(self<HLLRUCache>(), entry->object(), entry->key()))
        return false;
    // By identity: the delegate may have replaced or removed the entry meanwhile.
    if (auto found = entries_.find(entry->key()); found != entries_.end() && found->second == entry)
        entries_.erase(found);
    std::erase(entriesByTime_, entry);
    return true;
}

bool HLLRUCache::evictCacheEntry(const Ref<HLLRUCacheEntry>& entry) {
    std::scoped_lock lock(entriesLock_);
    auto found = std::find(entriesByTime_.begin(), entriesByTime_.end(), entry);
    if (found == entriesByTime_.end()) return false;
    return evictCacheEntryAtTimeIndex(static_cast<size_t>(found - entriesByTime_.begin()));
}

void HLLRUCache::evictObjectsExceedingCountLimit() {
    std::scoped_lock lock(entriesLock_);
    if (countLimit_ == 0 || entries_.size() <= countLimit_) return;
    size_t remaining = entries_.size();
    const size_t total = remaining;
    size_t index = 0;
    do {
        if (!evictCacheEntryAtTimeIndex(index)) {
            // A vetoed entry stays; the next one is tried, and the veto
            // counts as one of the evictions.
            if (++index >= total) return;
        }
        --remaining;
    } while (remaining > countLimit_);
}

bool HLLRUCache::isTimeToLiveExpiredForEntry(const Ref<HLLRUCacheEntry>& entry) const {
    std::scoped_lock lock(entriesLock_);
    return timeToLive_ != 0 && hlCacheNow() - timeToLive_ > entry->created();
}

bool HLLRUCache::isTimeToIdleExpiredForEntry(const Ref<HLLRUCacheEntry>& entry) const {
    std::scoped_lock lock(entriesLock_);
    return timeToIdle_ != 0 && hlCacheNow() - timeToIdle_ > entry->accessed();
}
