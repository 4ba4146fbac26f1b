// Arrays that hold their elements without owning them: the ads that wait on
// one load or one video download, the configuration's listeners. An element that has gone away is
// skipped and pruned, so the array never hands out a dangling object.
// Main thread (like its users); not synchronised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/runtime/Log.h"
#include "platform/runtime/NSObject.h"

template <class T>
class WeakReferenceArray {
public:
    // 0: unbounded; otherwise the most elements the array takes.
    explicit WeakReferenceArray(size_t capacity = 0) : capacity_(capacity) {}

    size_t capacity() const { return capacity_; }

    // Adds the element without retaining it. Refused (false, logged) for a
    // null element or when a bounded array is full.
    bool addObject(const Ref<T>& object) {
        if (!object) {
            platform::logError("WeakReferenceArray: a null element is not added");
            return false;
        }
        prune();
        if (capacity_ != 0 && entries_.size() >= capacity_) {
            platform::logError("WeakReferenceArray: the array is full; the element is not added");
            return false;
        }
        entries_.push_back(object);
        return true;
    }

    // Removes every occurrence of the element.
    void removeObject(const Ref<T>& object) {
        std::erase_if(entries_, [&](const Weak<T>& entry) {
            Ref<T> held = entry.lock();
            return !held || held == object;
        });
    }
    void removeAllObjects() { entries_.clear(); }

    bool containsObject(const Ref<T>& object) {
        prune();
        for (const auto& entry : entries_)
            if (entry.lock() == object) return true;
        return false;
    }

    // The elements still alive, in order (strong references for the caller's use).
    std::vector<Ref<T>> allObjects() {
        std::vector<Ref<T>> objects;
        for (const auto& entry : entries_)
            if (Ref<T> held = entry.lock()) objects.push_back(std::move(held));
        prune();
        return objects;
    }

    // Live elements only.
    size_t count() {
        prune();
        return entries_.size();
    }

    // The element at a live index; null beyond the end.
    Ref<T> objectAtIndex(size_t index) {
        prune();
        return index < entries_.size() ? entries_[index].lock() : nullptr;
    }

private:
    void prune() {
        std::erase_if(entries_, [](const Weak<T>& entry) { return entry.expired(); });
    }

    size_t capacity_;
    std::vector<Weak<T>> entries_;
};

// The extension's class methods: +mutableArrayUsingWeakReferences and
// +mutableArrayUsingWeakReferencesWithCapacity:.
namespace WeakReferences {

template <class T>
WeakReferenceArray<T> mutableArrayUsingWeakReferencesWithCapacity(uint64_t capacity) {
    return WeakReferenceArray<T>(static_cast<size_t>(capacity));
}

template <class T>
WeakReferenceArray<T> mutableArrayUsingWeakReferences() {
    return mutableArrayUsingWeakReferencesWithCapacity<T>(0);
}

}  // namespace WeakReferences
