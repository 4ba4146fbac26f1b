// A partner's callback endpoints, played on a loopback server: each path
// answers with a scripted sequence (statuses, delays, dropped connections),
// the last answer repeating, and every callback that arrives is recorded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "simulator/LoopbackServer.h"

namespace simulator {

class PartnerService {
public:
    PartnerService() = default;
    PartnerService(const PartnerService&) = delete;
    PartnerService& operator=(const PartnerService&) = delete;

    bool start() { return server_.start(); }
    void stop() { server_.stop(); }
    LoopbackServer& server() { return server_; }
    // "http://127.0.0.1:<port>" + path.
    std::string url(std::string_view path) const { return server_.url(path); }

    // Every method on `path` answers these in turn, the last one repeating.
    void script(const std::string& path, std::vector<Answer> answers);
    // Shorthand: statuses with empty bodies ("partner error" for 4xx/5xx).
    void scriptStatuses(const std::string& path, const std::vector<int>& statuses);

    // Callbacks that arrived on the path, in order.
    std::vector<RecordedRequest> callbacks(std::string_view path) const { return server_.requestsTo(path); }
    size_t callbackCount() const { return server_.requestCount(); }

private:
    LoopbackServer server_;
};

}  // namespace simulator
