// The host's readable timeline: one line per client call, lifecycle event,
// request sent and answered, delegate callback, web page console line and
// client warning or error, stamped with the application clock's seconds since
// the timeline began; and beside it the client log, every line the clients
// logged, at any level, stamped alike. Lines may come from any thread; they
// are kept in arrival order, and timeline lines are echoed to standard output
// as they come. A timeline line is one line: its line breaks and tabs, with
// the white space around them, read as one space; other control and invalid
// bytes are escaped (the client log escapes its line breaks too).
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Log.h"

class Timeline {
public:
    // A client's line shown on the timeline is cut after this many bytes
    // (the client log keeps it as logged, up to platform::kLogLineLimit).
    static constexpr size_t kShownLogBytes = 300;

    explicit Timeline(bool echo) : echo_(echo) {}

    // Time zero: the application clock's uptime now (main thread, after the
    // platform has started).
    void start();
    // Kinds read: "host" (the scenario), "app" (a client call of the
    // application), "life" (a lifecycle notification), "delegate", "net >"
    // (a request sent, with what it is for), "net <" (its answer), "log" (a
    // client's warning or error, or a web page's console line), "note" (why
    // a line that reads like a failure or a mistake is expected), "relay"
    // (the Relay part's steps).
    void add(std::string_view kind, std::string_view text);
    // A client's log line: the client log takes it as logged; a warning or an
    // error, and a web page's console line ("JS …"), also join the timeline
    // as a "log" line, cut after kShownLogBytes.
    void addLog(platform::LogLevel level, std::string_view text);
    // After the first timeline line that holds one of `fragments`, a "note"
    // line "expected: <why>": for the lines a clean run shows that read like
    // failures or mistakes.
    void expect(std::vector<std::string> fragments, std::string why);
    // Application-clock seconds since start() (0 before it).
    double elapsed() const;

    std::vector<std::string> lines() const;
    std::vector<std::string> logLines() const;
    // The lines, one per line; false when the file cannot be written.
    bool writeTo(const std::string& path) const;
    bool writeLogTo(const std::string& path) const;

private:
    struct Expected {
        std::vector<std::string> fragments;
        std::string why;
        bool seen = false;
    };

    std::string stamped(double seconds, std::string_view kind, std::string_view text) const;
    // Adds a timeline line (the lock held), and the notes it calls for.
    void addLocked(double seconds, std::string_view kind, std::string_view text);

    bool echo_;
    double origin_ = 0;
    bool started_ = false;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::string> logLines_;
    std::vector<Expected> expected_;
};
