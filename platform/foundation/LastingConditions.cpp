#include "platform/foundation/LastingConditions.h"

namespace platform {

bool LastingConditions::begins(const std::string& key) {
    std::scoped_lock lock(mutex_);
    return held_.insert(key).second;
}

bool LastingConditions::ends(const std::string& key) {
    std::scoped_lock lock(mutex_);
    return held_.erase(key) > 0;
}

}  // namespace platform
