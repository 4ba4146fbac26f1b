#include "platform/foundation/LastingConditions.h"

#include <atomic>
#include <iterator>
#include <limits>

namespace platform {

namespace {
std::atomic<size_t> gHeldInProcess{0};
}  // namespace

LastingConditions::LastingConditions(size_t capacity) : capacity_(capacity) {}

LastingConditions::~LastingConditions() { gHeldInProcess -= held_.size(); }

LastingConditions::Onset LastingConditions::fails(const std::string& place, int kind) {
    std::scoped_lock lock(mutex_);
    auto key = std::make_pair(place, kind);
    if (held_.count(key)) return Onset::None;
    if (held_.size() >= capacity_) {
        if (toldFull_) return Onset::None;
        toldFull_ = true;
        return Onset::BeganUnkept;
    }
    held_.insert(std::move(key));
    ++gHeldInProcess;
    return Onset::Began;
}

bool LastingConditions::succeeds(const std::string& place) {
    std::scoped_lock lock(mutex_);
    auto first = held_.lower_bound(std::make_pair(place, std::numeric_limits<int>::min()));
    auto last = first;
    while (last != held_.end() && last->first == place) ++last;
    const auto ended = static_cast<size_t>(std::distance(first, last));
    if (ended == 0) return false;
    held_.erase(first, last);
    gHeldInProcess -= ended;
    if (held_.size() < capacity_) toldFull_ = false;
    return true;
}

size_t LastingConditions::heldInProcess() { return gHeldInProcess.load(); }

}  // namespace platform
