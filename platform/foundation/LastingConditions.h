// Conditions that last across attempts (a file that cannot be read, blocks
// that cannot be written out), kept by key so that each is logged once when
// it begins and once when it ends, not at every attempt. Thread-safe.
#pragma once

#include <mutex>
#include <set>
#include <string>

namespace platform {

class LastingConditions {
public:
    // True when the condition at `key` begins with this attempt.
    bool begins(const std::string& key);
    // True when the condition at `key` held until this attempt.
    bool ends(const std::string& key);

private:
    std::mutex mutex_;  // guards held_
    std::set<std::string> held_;
};

}  // namespace platform
