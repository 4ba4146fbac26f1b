// Records the clients' traffic: each service the clients talk to is reached
// through a recording proxy of its own on loopback, which passes every request
// on to the service (the embedded simulator or a real one) unchanged and its
// answer back (redirects included), and keeps both: the URL the client sent
// (scheme, host and port as it reached the proxy, and the target), the
// service's URL it went on to, method, headers, bodies and status. Like any
// reverse proxy it puts its own origin in place of the services' in the
// textual answers it passes back (bodies of text, JSON, HTML, script or XML
// types, and the Location header), so the URLs a service hands out (its
// configuration's hosts, an ad's tracking links) lead back through a proxy
// and are recorded too; a redirect to an origin no proxy serves gets a proxy
// of its own (service "redirect"), and so does a host a service names for
// its clients (OriginNamer), under the service's own name. What cannot get a
// proxy is said on the timeline: those requests go around the recorder.
//
// Binary answers pass as they stream; textual ones once complete (they are
// rewritten). Either is cut at kMaximumAnswerBytes (the client's connection
// is dropped) and must be complete within kServiceSeconds of real time (or
// what setServiceSeconds says).
// Each exchange also goes to the timeline as it happens, with what the
// request is for when the service's labeler knows. Proxies serve on threads
// of their own; everything here is thread-safe, and stop() ends every
// forward under way at once, whatever the services do.
#pragma once

#include <atomic>
#include <functional>
#include <map>
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
    std::string url;         // as the client sent it: "http(s)://<Host field><target>"
    std::string serviceUrl;  // the service's URL the request went on to
    Headers requestHeaders;
    std::string requestBody;
    int status = 0;  // 0: no answer came (see error)
    // Why no answer came, or why the one that came is not whole ("" when it is).
    std::string error;
    Headers responseHeaders;
    std::string responseBody;
    bool ended = false;  // the exchange has its outcome
    double sentAt = 0;   // seconds on the timeline
    double answeredAt = 0;
};

class TrafficRecorder {
public:
    static constexpr size_t kMaximumAnswerBytes = 32 * 1024 * 1024;
    static constexpr double kServiceSeconds = 15;
    // Proxies made for redirect targets and named hosts, at most; later ones
    // are passed on as they are (and said on the timeline).
    static constexpr size_t kMaximumExtraProxies = 16;
    // What an exchange without an outcome says once the run ends.
    static constexpr const char* kRunEnded = "the run ended before the service answered";

    // What a request to a service is for, from its method and target
    // ("/path?query"); "" when it cannot tell.
    using Labeler = std::function<std::string(const std::string& method, const std::string& target)>;
    // The origins ("http://host:port") a textual answer of the service names
    // for its clients to reach next (a configuration naming the ad platform's
    // host), from the request's target and the answer's body.
    using OriginNamer = std::function<std::vector<std::string>(const std::string& target, const std::string& body)>;
    // Listening ports by service name (http, https; 0: none or any).
    using Ports = std::map<std::string, std::pair<int, int>>;

    explicit TrafficRecorder(Timeline& timeline);
    ~TrafficRecorder();  // stops
    TrafficRecorder(const TrafficRecorder&) = delete;
    TrafficRecorder& operator=(const TrafficRecorder&) = delete;

    // Before the services are added: the ports each service's proxy takes
    // again when they are free (URLs a kept home stored name them).
    void setPreferredPorts(Ports ports);
    // The ports each service's own proxy listens on (https: 0 until asked for).
    Ports servicePorts() const;
    // Real seconds a service has for its whole answer (kServiceSeconds unless
    // set; a test that ends the run first sets more than any of its waits).
    void setServiceSeconds(double seconds);

    // Starts a proxy for the service at `baseUrl` ("http://host:port/path/");
    // returns the URL the clients use instead (the proxy's, same path), or
    // nullopt when the URL is unusable or the proxy cannot start.
    std::optional<std::string> addService(const std::string& name, const std::string& baseUrl, Labeler labeler = {},
                                          OriginNamer namer = {});
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
    // Gives every exchange still without an outcome `reason` as its error
    // (told on the timeline); answers arriving later are not taken.
    void endUnanswered(const std::string& reason = kRunEnded);
    // Ends every forward under way (the clients' connections are dropped)
    // and stops every proxy. Returns promptly; idempotent.
    void stop();

    std::vector<TrafficExchange> exchanges() const;
    // Writes <folder>/index.json (every exchange but the bodies, in order;
    // "status" null when no answer came) and the bodies as raw files
    // "<nnn>-request.body" / "<nnn>-response.body". False when something
    // cannot be written.
    bool writeTo(const std::string& folder) const;

    class Forward;

private:
    struct Proxy {
        std::string name;
        std::string origin;       // scheme and authority of the service
        std::string localOrigin;  // the proxy's
        Labeler labeler;
        OriginNamer namer;
        simulator::LoopbackServer server;
    };

    Proxy* startProxy(const std::string& name, const std::string& origin, Labeler labeler, OriginNamer namer,
                      std::pair<int, int> preferredPorts = {});
    simulator::Answer forward(Proxy& proxy, const simulator::RecordedRequest& request);
    // The proxy origin serving `origin`: an existing one, or a new one named
    // `name` (at most kMaximumExtraProxies; `made` then set); nullopt when
    // none can be had.
    std::optional<std::string> proxyOriginFor(const std::string& origin, const std::string& name, Labeler labeler,
                                              OriginNamer namer = {}, bool* made = nullptr);
    // The answer's head as passed back: connection fields dropped (the proxy
    // frames the body itself), a Location leading to another origin through
    // a proxy of its own.
    void passHead(simulator::Answer& passed, const TrafficExchange::Headers& headers);
    // Proxies for the origins the service's answer names (or a line saying
    // why one is reached around the recorder).
    void followNamedOrigins(const Proxy& proxy, const std::string& target, const std::string& body);
    std::string withProxyOrigins(std::string text) const;
    size_t begin(TrafficExchange exchange, const std::string& target);
    void finish(size_t index, const TrafficExchange& answer);

    Timeline& timeline_;
    mutable std::mutex mutex_;  // guards the fields below
    std::vector<std::unique_ptr<Proxy>> proxies_;
    std::vector<TrafficExchange> exchanges_;
    std::set<std::shared_ptr<Forward>> forwards_;  // under way
    Ref<NSOperationQueue> queue_;                  // the forwards' callbacks, made at the first
    Ports preferredPorts_;
    double serviceSeconds_ = kServiceSeconds;
    size_t extraProxies_ = 0;
    std::atomic<bool> stopping_{false};
};
