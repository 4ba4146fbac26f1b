// The host's readable timeline: one line per client call, lifecycle event,
// request sent and answered, delegate callback and client log line, stamped
// with the application clock's seconds since the timeline began. Lines may
// come from any thread; they are kept in arrival order and echoed to
// standard output as they come, control and invalid bytes escaped.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class Timeline {
public:
    explicit Timeline(bool echo) : echo_(echo) {}

    // Time zero: the application clock's uptime now (main thread, after the
    // platform has started).
    void start();
    // Kinds read: "host" (the scenario), "app" (a client call of the
    // application), "life" (a lifecycle notification), "delegate", "net >"
    // (a request sent, with what it is for), "net <" (its answer), "log" (a
    // client's log line), "relay" (the Relay part's steps).
    void add(std::string_view kind, std::string_view text);
    // Application-clock seconds since start() (0 before it).
    double elapsed() const;

    std::vector<std::string> lines() const;
    // The lines, one per line; false when the file cannot be written.
    bool writeTo(const std::string& path) const;

private:
    bool echo_;
    double origin_ = 0;
    bool started_ = false;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};
