// Conditions that last across attempts (a file that cannot be read, a folder
// that cannot be written in), kept by the place they hold at and their kind
// of failure, so that each is logged once when it begins and once when it
// ends, not at every attempt. The record is bounded: at capacity a new
// condition is not kept, and only the first of those since the record
// filled is told, so that its caller can say that more go unlogged.
// Thread-safe.
#pragma once

#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace platform {

class LastingConditions {
public:
    explicit LastingConditions(size_t capacity);
    ~LastingConditions();

    // What a failure of `kind` (an errno, or 0) at `place` starts.
    enum class Onset {
        None,          // held already, or not kept (past the first one): nothing to log
        Began,         // a new condition, kept until it ends: log it
        BeganUnkept,   // a new one at capacity, not kept: log it, and that more go unlogged
    };
    Onset fails(const std::string& place, int kind);
    // True when conditions at `place` (of any kind) held until this
    // attempt succeeded there; they end.
    bool succeeds(const std::string& place);

    // The conditions every record of the process holds: for tests.
    static size_t heldInProcess();

private:
    const size_t capacity_;
    std::mutex mutex_;  // guards the fields below
    std::set<std::pair<std::string, int>> held_;
    bool toldFull_ = false;  // a condition past capacity was told since the record filled
};

}  // namespace platform
