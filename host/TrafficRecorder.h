// Records the clients' traffic: each service the clients talk to is reached
// through a recording proxy of its own on loopback, which passes every request
// on to the service (the embedded simulator or a real one) unchanged and its
// answer back (redirects included), and keeps both as the service saw them:
// method, URL, headers, bodies and status. Like any reverse proxy it puts its
// own origin in place of the services' in the textual answers it passes back
// (bodies of text, JSON, HTML, script or XML types, and the Location header),
// so the URLs a service hands out (its configuration's hosts, an ad's
// tracking links) lead back through a proxy and are recorded too; a redirect
// to an origin no proxy serves gets a proxy of its own (service "redirect"),
// so the hop it leads to is recorded like any other request. Binary bodies
// pass untouched.
//
// A proxy answers once the service's answer is complete: at most
// kMaximumAnswerBytes (a longer one fails before it is buffered, and the
// client's connection is dropped) within kServiceSeconds of real time.
// Each exchange also goes to the timeline as it happens, with what the request
// is for when the service's labeler knows. Proxies serve on threads of their
// own; everything here is thread-safe, and stop() ends every forward under way
// at once, whatever the services do.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/Timeline.h"
#include "platform/runtime/NSOperationQueue.h"
#include "simulator/LoopbackServer.h"

struct TrafficExchange {
    using Headers = std::vector<std::pair<std::string, std::string>>;

    size_t index = 0;  // 1, 2, … in arrival order
    std::string service;
    std::string purpose;  // what the request is for ("" when the labeler does not know)
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
    static constexpr size_t kMaximumAnswerBytes = 32 * 1024 * 1024;
    static constexpr double kServiceSeconds = 15;
    // Proxies made for redirect targets, at most; later targets are passed on
    // as they are (and logged).
    static constexpr size_t kMaximumRedirectProxies = 16;

    // What a request to a service is for, from its method and target
    // ("/path?query"); "" when it cannot tell.
    using Labeler = std::function<std::string(const std::string& method, const std::string& target)>;

    explicit TrafficRecorder(Timeline& timeline);
    ~TrafficRecorder();  // stops
    TrafficRecorder(const TrafficRecorder&) = delete;
    TrafficRecorder& operator=(const TrafficRecorder&) = delete;

    // Starts a proxy for the service at `baseUrl` ("http://host:port/path/");
    // returns the URL the clients use instead (the proxy's, same path), or
    // nullopt when the URL is unusable or the proxy cannot start.
    std::optional<std::string> addService(const std::string& name, const std::string& baseUrl, Labeler labeler = {});
    // The service's proxy also listens over https, recording alike (for
    // clients that always use https, whatever URL they are given): its origin
    // ("https://127.0.0.1:<port>", the same paths as the service's), and the
    // PEM text of the test authority that issued its certificate, which a
    // client must trust (TrustedAuthorities) before it connects. nullopt and
    // "" for a service without a proxy.
    std::optional<std::string> secureOriginFor(const std::string& name) const;
    std::string certificateAuthorityPEM(const std::string& name) const;
    // Puts `labeler` before the service's own: asked first, the earlier one
    // answers when it answers "" (a scenario naming its story's requests).
    void overrideLabeler(const std::string& name, Labeler labeler);
    // Ends every forward under way (the clients' connections are dropped)
    // and stops every proxy. Returns promptly; idempotent.
    void stop();

    std::vector<TrafficExchange> exchanges() const;
    // Writes <folder>/index.json (every exchange but the bodies, in order)
    // and the bodies as raw files "<nnn>-request.body" / "<nnn>-response.body".
    // False when something cannot be written.
    bool writeTo(const std::string& folder) const;

    class Forward;

private:
    struct Proxy {
        std::string name;
        std::string origin;       // scheme and authority of the service
        std::string localOrigin;  // the proxy's
        Labeler labeler;
        simulator::LoopbackServer server;
    };

    Proxy* startProxy(const std::string& name, const std::string& origin, Labeler labeler);
    simulator::Answer forward(Proxy& proxy, const simulator::RecordedRequest& request);
    // The proxy origin for a redirect target's origin (made when new); nullopt
    // when none can be had.
    std::optional<std::string> proxyOriginFor(const std::string& origin);
    std::string withProxyOrigins(std::string text) const;
    size_t begin(TrafficExchange exchange, const std::string& target);
    void finish(size_t index, const TrafficExchange& answer);

    Timeline& timeline_;
    mutable std::mutex mutex_;  // guards the fields below
    std::vector<std::unique_ptr<Proxy>> proxies_;
    std::vector<TrafficExchange> exchanges_;
    std::set<std::shared_ptr<Forward>> forwards_;  // under way
    Ref<NSOperationQueue> queue_;                  // the forwards' callbacks, made at the first
    size_t redirectProxies_ = 0;
    std::atomic<bool> stopping_{false};
};
