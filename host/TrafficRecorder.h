// Records the clients' traffic: each service the clients talk to is reached
// through a recording proxy of its own on loopback, which passes every request on to
// the service (the embedded simulator or a real one) unchanged and its answer
// back (redirects included), and keeps both as the service saw them: method,
// URL, headers, bodies and status. Like any reverse proxy it puts its
// own origin in place of the service's in the answers it passes back (the
// body and the Location header), so the URLs a service hands out (its
// configuration's hosts, an ad's tracking links) lead back through the proxy
// and are recorded too. Each exchange also goes to the timeline as it
// happens. Proxies serve on threads of their own; everything here is
// thread-safe.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/Timeline.h"
#include "simulator/LoopbackServer.h"

struct TrafficExchange {
    using Headers = std::vector<std::pair<std::string, std::string>>;

    size_t index = 0;  // 1, 2, … in arrival order
    std::string service;
    std::string method;
    std::string url;  // the service's URL the request went on to
    Headers requestHeaders;
    std::string requestBody;
    int status = 0;   // 0: no answer (see error)
    std::string error;
    Headers responseHeaders;
    std::string responseBody;
    double sentAt = 0;      // seconds on the timeline
    double answeredAt = 0;
};

class TrafficRecorder {
public:
    explicit TrafficRecorder(Timeline& timeline);
    ~TrafficRecorder();  // stops
    TrafficRecorder(const TrafficRecorder&) = delete;
    TrafficRecorder& operator=(const TrafficRecorder&) = delete;

    // Starts a proxy for the service at `baseUrl` ("http://host:port/path/");
    // returns the URL the clients use instead (the proxy's, same path), or
    // nullopt when the URL is unusable or the proxy cannot start.
    std::optional<std::string> addService(const std::string& name, const std::string& baseUrl);
    // Stops every proxy (requests under way are dropped).
    void stop();

    std::vector<TrafficExchange> exchanges() const;
    // Writes <folder>/index.json (every exchange but the bodies, in order)
    // and the bodies as raw files "<nnn>-request.body" / "<nnn>-response.body".
    // False when something cannot be written.
    bool writeTo(const std::string& folder) const;

private:
    struct Proxy {
        std::string name;
        std::string origin;       // scheme and authority of the service
        std::string localOrigin;  // the proxy's
        simulator::LoopbackServer server;
    };

    simulator::Answer forward(const Proxy& proxy, const simulator::RecordedRequest& request);
    size_t begin(TrafficExchange exchange, const std::string& target);
    void finish(size_t index, const TrafficExchange& answer);

    Timeline& timeline_;
    std::vector<std::unique_ptr<Proxy>> proxies_;
    mutable std::mutex mutex_;
    std::vector<TrafficExchange> exchanges_;
};
