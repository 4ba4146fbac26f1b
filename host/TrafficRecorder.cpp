#include "host/TrafficRecorder.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/net/NSURLConnection.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/NSURLResponse.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSOperationQueue.h"

namespace {

using simulator::Answer;

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Fields that describe one connection, not the message: the proxy and the
// transport below it set their own.
bool isConnectionField(const std::string& name) {
    static const char* fields[] = {"host", "content-length", "transfer-encoding", "connection", "keep-alive",
                                   "proxy-connection", "te", "trailer", "upgrade"};
    std::string n = lowercased(name);
    return std::any_of(std::begin(fields), std::end(fields), [&](const char* f) { return n == f; });
}

// Bodies of these types carry URLs as text; any other body is passed byte for byte.
bool isTextualType(const std::optional<std::string>& contentType) {
    if (!contentType) return false;
    std::string type = lowercased(*contentType);
    for (const char* kind : {"text/", "json", "javascript", "xml", "html"})
        if (type.find(kind) != std::string::npos) return true;
    return false;
}

std::optional<std::string> headerValue(const TrafficExchange::Headers& headers, const std::string& name) {
    for (const auto& [field, value] : headers)
        if (lowercased(field) == name) return value;
    return std::nullopt;
}

// Whole, or its start then "…": the start of a URL says which endpoint it is,
// and the traffic's index has it whole. No length: a byte count on the line
// is the body's.
std::string shownTarget(const std::string& text) {
    constexpr size_t kShown = 160;
    std::string url = platform::urlForLog(text, std::string::npos);
    if (url.size() <= kShown) return url;
    size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(url[cut]) & 0xC0) == 0x80) --cut;
    return url.substr(0, cut) + "…";
}

std::string bytesText(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// The scheme and authority of an absolute http(s) URL; nullopt for anything else.
std::optional<std::string> originOf(const std::string& url) {
    size_t scheme = url.find("://");
    if (scheme == std::string::npos) return std::nullopt;
    std::string name = lowercased(url.substr(0, scheme));
    if (name != "http" && name != "https") return std::nullopt;
    size_t path = url.find_first_of("/?#", scheme + 3);
    std::string origin = url.substr(0, path);
    if (origin.size() == scheme + 3) return std::nullopt;
    return origin;
}

// Every occurrence of `from` in `text`, also in the escaped form JSON may
// give it ("http:\/\/host"), becomes `to`.
std::string replacedOrigin(std::string text, const std::string& from, const std::string& to) {
    auto escaped = [](const std::string& s) {
        std::string out;
        for (char c : s) out += c == '/' ? std::string("\\/") : std::string(1, c);
        return out;
    };
    // Not inside a longer host name or port ("http://host:80" in "http://host:8080").
    auto ends = [&](size_t at) {
        return at >= text.size() || !(std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '.' ||
                                      text[at] == '-');
    };
    for (const auto& [f, t] : {std::pair{from, to}, std::pair{escaped(from), escaped(to)}}) {
        size_t at = text.find(f);
        while (at != std::string::npos) {
            if (ends(at + f.size())) {
                text.replace(at, f.size(), t);
                at += t.size();
            } else {
                at += f.size();
            }
            at = text.find(f, at);
        }
    }
    return text;
}

Value headersValue(const TrafficExchange::Headers& headers) {
    Value::Array list;
    for (const auto& [name, value] : headers) list.push_back(Value::array({name, value}));
    return Value(std::move(list));
}

std::string numbered(size_t index, const char* suffix) {
    char name[48];
    std::snprintf(name, sizeof name, "%03zu-%s", index, suffix);
    return name;
}

}  // namespace

// One request passed on to a service: takes the answer from the connection's
// callbacks (on the recorder's queue) for the proxy thread that waits for it,
// piece by piece as it streams; ended early by the size cap, the time limit
// or stop().
class TrafficRecorder::Forward : public NSObject, public NSURLConnectionDataDelegate {
public:
    void connectionDidReceiveResponse(Ref<NSURLConnection>, Ref<NSURLResponse> response) override {
        std::scoped_lock lock(mutex_);
        response_ = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
        changed_.notify_all();
    }
    void connectionDidReceiveData(Ref<NSURLConnection>, const NSData& data) override {
        // The request's cap keeps the whole below kMaximumAnswerBytes.
        std::scoped_lock lock(mutex_);
        if (done_) return;
        body_.append(data.stringView());
        changed_.notify_all();
    }
    void connectionDidFinishLoading(Ref<NSURLConnection>) override { conclude(nullptr); }
    void connectionDidFailWithError(Ref<NSURLConnection>, Ref<NSError> error) override { conclude(error); }

    void setConnection(Ref<NSURLConnection> connection) {
        std::scoped_lock lock(mutex_);
        connection_ = std::move(connection);
    }
    // Ends the forward with this reason unless it has an outcome already, and
    // cancels its connection.
    void end(const std::string& reason) {
        Ref<NSURLConnection> connection;
        {
            std::scoped_lock lock(mutex_);
            if (!done_) {
                ended_ = reason;
                done_ = true;
                changed_.notify_all();
            }
            connection = connection_;
        }
        if (connection) connection->cancel();
    }
    // Waits until the answer's head or the outcome, or `seconds` have passed;
    // true when either came.
    bool waitForHead(double seconds) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return done_ || response_; });
    }
    // Waits until the forward has an outcome, or `seconds` have passed.
    bool waitFor(double seconds) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return done_; });
    }
    // The body bytes from `offset` on, once there are some or the forward has
    // its outcome (or `seconds` passed); `done` tells whether more can come.
    std::string bodyFrom(size_t offset, double seconds, bool& done) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return done_ || body_.size() > offset; });
        done = done_;
        return offset < body_.size() ? body_.substr(offset) : std::string();
    }

    // The answer's head; null when none came or the forward was ended before it.
    Ref<NSHTTPURLResponse> response() const {
        std::scoped_lock lock(mutex_);
        return response_;
    }
    std::string body() const {
        std::scoped_lock lock(mutex_);
        return body_;
    }
    // Why the answer is missing or not whole; "" when it came whole.
    std::string failure() const {
        std::scoped_lock lock(mutex_);
        if (!ended_.empty()) return ended_;
        if (error_) return error_->localizedDescription();
        if (!done_) return "the answer did not complete";
        return response_ ? std::string() : "no HTTP answer";
    }

private:
    void conclude(const Ref<NSError>& error) {
        std::scoped_lock lock(mutex_);
        if (done_) return;
        error_ = error;
        done_ = true;
        changed_.notify_all();
    }

    mutable std::mutex mutex_;  // guards the fields below
    std::condition_variable changed_;
    Ref<NSURLConnection> connection_;
    Ref<NSHTTPURLResponse> response_;
    std::string body_;
    Ref<NSError> error_;
    std::string ended_;
    bool done_ = false;
};

TrafficRecorder::TrafficRecorder(Timeline& timeline) : timeline_(timeline) {}

TrafficRecorder::~TrafficRecorder() { stop(); }

void TrafficRecorder::setServiceSeconds(double seconds) {
    std::scoped_lock lock(mutex_);
    if (seconds > 0) serviceSeconds_ = seconds;
}

void TrafficRecorder::setPreferredPorts(Ports ports) {
    std::scoped_lock lock(mutex_);
    preferredPorts_ = std::move(ports);
}

TrafficRecorder::Ports TrafficRecorder::servicePorts() const {
    std::scoped_lock lock(mutex_);
    Ports ports;
    // A service's own proxy is the first of its name.
    for (const auto& proxy : proxies_)
        if (proxy->name != "redirect" && !ports.count(proxy->name))
            ports[proxy->name] = {proxy->server.port(), proxy->server.httpsStarted() ? proxy->server.httpsPort() : 0};
    return ports;
}

TrafficRecorder::Proxy* TrafficRecorder::startProxy(const std::string& name, const std::string& origin, Labeler labeler,
                                                    OriginNamer namer, std::pair<int, int> preferredPorts) {
    auto proxy = std::make_unique<Proxy>();
    proxy->name = name;
    proxy->origin = origin;
    proxy->labeler = std::move(labeler);
    proxy->namer = std::move(namer);
    Proxy* raw = proxy.get();
    proxy->server.setFallback([this, raw](const simulator::RecordedRequest& request) { return forward(*raw, request); });
    proxy->server.setHttpsOnDemand(true);  // most clients reach proxies over http only
    proxy->server.setPreferredPorts(preferredPorts.first, preferredPorts.second);
    // The recorder keeps what passed; the server need not keep it twice.
    proxy->server.setKeepsAnswers(false);
    if (!proxy->server.start()) return nullptr;
    proxy->localOrigin = proxy->server.url("");
    std::scoped_lock lock(mutex_);
    proxies_.push_back(std::move(proxy));
    return raw;
}

std::optional<std::string> TrafficRecorder::addService(const std::string& name, const std::string& baseUrl,
                                                       Labeler labeler, OriginNamer namer) {
    auto url = NSURL::URLWithString(baseUrl);
    std::optional<std::string> origin = originOf(baseUrl);
    if (!url || url->host().empty() || !origin) return std::nullopt;
    std::pair<int, int> ports;
    {
        std::scoped_lock lock(mutex_);
        if (auto found = preferredPorts_.find(name); found != preferredPorts_.end()) ports = found->second;
    }
    // The proxy serves the same paths.
    std::string path = baseUrl.substr(origin->size());
    Proxy* proxy = startProxy(name, *origin, std::move(labeler), std::move(namer), ports);
    if (!proxy) return std::nullopt;
    if (ports.first > 0 && proxy->server.port() != ports.first)
        timeline_.add("host", "the " + name + " proxy cannot take its earlier port " + std::to_string(ports.first) +
                                  " again (in use): URLs a kept home stored for it lead nowhere");
    return proxy->localOrigin + path;
}

std::optional<std::string> TrafficRecorder::secureOriginFor(const std::string& name) const {
    std::scoped_lock lock(mutex_);
    for (const auto& proxy : proxies_)
        if (proxy->name == name) return proxy->server.httpsURL("");
    return std::nullopt;
}

std::string TrafficRecorder::certificateAuthorityPEM(const std::string& name) const {
    std::scoped_lock lock(mutex_);
    for (const auto& proxy : proxies_)
        if (proxy->name == name) return proxy->server.certificateAuthorityPEM();
    return {};
}

void TrafficRecorder::overrideLabeler(const std::string& name, Labeler labeler) {
    std::scoped_lock lock(mutex_);
    for (auto& proxy : proxies_) {
        if (proxy->name != name) continue;
        proxy->labeler = [first = labeler, then = proxy->labeler](const std::string& method, const std::string& target) {
            std::string purpose = first ? first(method, target) : std::string();
            return purpose.empty() && then ? then(method, target) : purpose;
        };
    }
}

void TrafficRecorder::endUnanswered(const std::string& reason) {
    std::vector<size_t> ended;
    {
        std::scoped_lock lock(mutex_);
        for (TrafficExchange& exchange : exchanges_) {
            if (exchange.ended) continue;
            exchange.ended = true;
            exchange.error = exchange.status ? reason + " (the answer is not whole)" : reason;
            exchange.answeredAt = timeline_.elapsed();
            ended.push_back(exchange.index);
        }
    }
    for (size_t index : ended) timeline_.add("net <", "#" + std::to_string(index) + " unanswered: " + reason);
}

void TrafficRecorder::stop() {
    stopping_.store(true);
    std::vector<Proxy*> proxies;
    std::set<std::shared_ptr<Forward>> forwards;
    {
        std::scoped_lock lock(mutex_);
        for (auto& proxy : proxies_) proxies.push_back(proxy.get());
        forwards = forwards_;
    }
    // The proxies' threads wait on these; ended, they return at once.
    for (const auto& forward : forwards) forward->end("the recorder stopped before the answer was complete");
    for (Proxy* proxy : proxies) proxy->server.stop();
    std::scoped_lock lock(mutex_);
    queue_.reset();
}

std::optional<std::string> TrafficRecorder::proxyOriginFor(const std::string& origin, const std::string& name,
                                                           Labeler labeler, OriginNamer namer, bool* made) {
    {
        std::scoped_lock lock(mutex_);
        for (const auto& proxy : proxies_)
            if (proxy->origin == origin) return proxy->localOrigin;
        if (extraProxies_ >= kMaximumExtraProxies || stopping_.load()) return std::nullopt;
        ++extraProxies_;
    }
    Proxy* proxy = startProxy(name, origin, std::move(labeler), std::move(namer));
    if (!proxy) return std::nullopt;
    if (made) *made = true;
    return proxy->localOrigin;
}

void TrafficRecorder::followNamedOrigins(const Proxy& proxy, const std::string& target, const std::string& body) {
    if (!proxy.namer) return;
    Labeler labeler;
    {
        std::scoped_lock lock(mutex_);
        labeler = proxy.labeler;
    }
    for (const std::string& named : proxy.namer(target, body)) {
        std::optional<std::string> origin = originOf(named);
        if (!origin) continue;
        bool made = false;
        std::optional<std::string> local = proxyOriginFor(*origin, proxy.name, labeler, proxy.namer, &made);
        if (!local)
            timeline_.add("host", "the " + proxy.name + " service names " + platform::urlForLog(*origin) +
                                      ": its requests go around the recorder, unrecorded (no proxy can serve it)");
        else if (made)
            timeline_.add("host", "the " + proxy.name + " service names " + platform::urlForLog(*origin) +
                                      ": reached through " + *local + ", recorded");
    }
}

std::string TrafficRecorder::withProxyOrigins(std::string text) const {
    std::vector<std::pair<std::string, std::string>> origins;
    {
        std::scoped_lock lock(mutex_);
        for (const auto& proxy : proxies_) origins.emplace_back(proxy->origin, proxy->localOrigin);
    }
    for (const auto& [from, to] : origins) text = replacedOrigin(std::move(text), from, to);
    return text;
}

size_t TrafficRecorder::begin(TrafficExchange exchange, const std::string& target) {
    size_t index;
    {
        std::scoped_lock lock(mutex_);
        index = exchanges_.size() + 1;
        exchange.index = index;
        exchanges_.push_back(exchange);
    }
    std::string text = "#" + std::to_string(index) + " " + exchange.service;
    if (!exchange.purpose.empty()) text += " " + exchange.purpose;
    text += ": " + exchange.method + " " + shownTarget(target);
    if (!exchange.requestBody.empty()) text += " (" + bytesText(exchange.requestBody.size()) + ")";
    timeline_.add("net >", text);
    return index;
}

void TrafficRecorder::finish(size_t index, const TrafficExchange& answer) {
    {
        std::scoped_lock lock(mutex_);
        TrafficExchange& exchange = exchanges_[index - 1];
        // Ended with the run: what comes later is not taken.
        if (exchange.ended) return;
        exchange.ended = true;
        exchange.status = answer.status;
        exchange.error = answer.error;
        exchange.responseHeaders = answer.responseHeaders;
        exchange.responseBody = answer.responseBody;
        exchange.answeredAt = timeline_.elapsed();
    }
    std::string text = "#" + std::to_string(index) + " ";
    if (answer.status == 0) text += "no answer: " + answer.error;
    else text += std::to_string(answer.status) + " (" + bytesText(answer.responseBody.size()) + ")";
    if (answer.status != 0 && !answer.error.empty()) text += ", cut: " + answer.error;
    timeline_.add("net <", text);
}

void TrafficRecorder::passHead(Answer& passed, const TrafficExchange::Headers& headers) {
    for (const auto& [name, value] : headers) {
        if (isConnectionField(name)) continue;
        if (lowercased(name) != "location") {
            passed.header(name, value);
            continue;
        }
        // A hop to another origin is recorded too: through a proxy of its own.
        std::string location = value;
        if (auto target = originOf(value)) {
            if (auto local = proxyOriginFor(*target, "redirect",
                                            [](const std::string&, const std::string&) { return "redirect target"; }))
                location = *local + value.substr(target->size());
            else
                timeline_.add("host", "redirect to " + platform::urlForLog(*target) +
                                          " passed on unrecorded: no proxy can serve it");
        }
        passed.header(name, location);
    }
}

Answer TrafficRecorder::forward(Proxy& proxy, const simulator::RecordedRequest& request) {
    TrafficExchange exchange;
    exchange.service = proxy.name;
    {
        std::scoped_lock lock(mutex_);
        if (proxy.labeler) exchange.purpose = proxy.labeler(request.method, request.target);
    }
    exchange.method = request.method;
    // What the client asked for: the scheme it used and the authority it named.
    exchange.url = std::string(request.secure ? "https://" : "http://") +
                   request.header("Host").value_or(proxy.localOrigin.substr(proxy.localOrigin.find("://") + 3)) +
                   request.target;
    exchange.serviceUrl = proxy.origin + request.target;
    exchange.requestHeaders = request.headers;
    exchange.requestBody = request.body;
    exchange.sentAt = timeline_.elapsed();
    size_t index = begin(exchange, request.target);

    TrafficExchange answer;
    auto url = NSURL::URLWithString(exchange.serviceUrl);
    if (!url) {
        answer.error = "the request's target gives no URL";
        finish(index, answer);
        return Answer::drop();
    }
    auto forwarded = NSMutableURLRequest::requestWithURL(url);
    forwarded->setHTTPMethod(request.method);
    for (const auto& [name, value] : request.headers)
        if (!isConnectionField(name)) forwarded->addValue(value, name);
    if (!request.body.empty() || (request.method != "GET" && request.method != "HEAD"))
        forwarded->setHTTPBody(NSData::dataWithString(request.body));
    double serviceSeconds;
    {
        std::scoped_lock lock(mutex_);
        serviceSeconds = serviceSeconds_;
    }
    forwarded->setTimeoutInterval(serviceSeconds);
    forwarded->setTotalTimeoutInterval(serviceSeconds);
    forwarded->setMaximumResponseLength(static_cast<int64_t>(kMaximumAnswerBytes));
    // Redirects are the client's to follow.
    forwarded->setMaximumRedirects(0);

    auto pending = NSObject::alloc<Forward>();
    auto connection = NSObject::alloc<NSURLConnection>()->initWithRequest(*forwarded, pending, false);
    pending->setConnection(connection);
    {
        std::scoped_lock lock(mutex_);
        if (!queue_) queue_ = NSOperationQueue::alloc()->init();
        connection->setDelegateQueue(queue_);
        forwards_.insert(pending);
    }
    auto forgetPending = [this, pending] {
        std::scoped_lock lock(mutex_);
        forwards_.erase(pending);
    };
    if (stopping_.load()) pending->end("the recorder stopped before the answer was complete");
    else connection->start();
    // The request's total time-out ends the load; the margin only guards the waits.
    const double limit = serviceSeconds + 5;
    const std::string late = "no complete answer within " + std::to_string(static_cast<int>(serviceSeconds)) + " s";
    if (!pending->waitForHead(limit)) pending->end(late);

    auto http = pending->response();
    if (!http) {
        forgetPending();
        // The client sees what the service did: no answer.
        answer.error = pending->failure();
        finish(index, answer);
        return Answer::drop();
    }
    answer.status = static_cast<int>(http->statusCode());
    answer.responseHeaders = http->headerFields();
    const bool textual = isTextualType(headerValue(answer.responseHeaders, "content-type"));
    const bool bodyless = request.method == "HEAD" || answer.status == 204 || answer.status == 304;

    if (textual || bodyless) {
        // Rewritten whole: taken once complete.
        if (!pending->waitFor(limit)) pending->end(late);
        forgetPending();
        answer.responseBody = pending->body();
        answer.error = pending->failure();
        finish(index, answer);
        if (!answer.error.empty()) return Answer::drop();
        if (textual) followNamedOrigins(proxy, request.target, answer.responseBody);
        Answer passed = Answer::withStatus(answer.status, textual ? withProxyOrigins(answer.responseBody) : std::string());
        passHead(passed, answer.responseHeaders);
        return passed;
    }

    // Passed on as it streams, chunked: the client's answer ends only after
    // the record has taken the whole.
    Answer passed = Answer::streamed(answer.status, [this, pending, index, answer, limit, late,
                                                     forgetPending](const Answer::BodyWriter& write) mutable {
        size_t sent = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
        bool done = false, delivered = true;
        while (!done) {
            double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) {
                pending->end(late);
                left = 0;
            }
            std::string piece = pending->bodyFrom(sent, left, done);
            sent += piece.size();
            if (delivered && !write(piece)) {
                // The client left: the rest is not read.
                delivered = false;
                pending->end("the client closed the connection before the answer was whole");
            }
        }
        forgetPending();
        answer.responseBody = pending->body();
        answer.error = pending->failure();
        finish(index, answer);
        return delivered && answer.error.empty();
    });
    passHead(passed, answer.responseHeaders);
    return passed;
}

std::vector<TrafficExchange> TrafficRecorder::exchanges() const {
    std::scoped_lock lock(mutex_);
    return exchanges_;
}

bool TrafficRecorder::writeTo(const std::string& folder) const {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return false;
    bool ok = true;
    auto writeBody = [&](const std::string& name, const std::string& bytes) {
        std::ofstream file(folder + "/" + name, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ok = ok && static_cast<bool>(file);
    };
    Value::Array index;
    for (const TrafficExchange& e : exchanges()) {
        std::string requestBody = numbered(e.index, "request.body");
        std::string responseBody = numbered(e.index, "response.body");
        writeBody(requestBody, e.requestBody);
        writeBody(responseBody, e.responseBody);
        Value entry = Value::dictionary({
            {"index", Value(static_cast<int64_t>(e.index))},
            {"service", e.service},
            {"purpose", e.purpose},
            {"method", e.method},
            {"url", e.url},
            {"serviceUrl", e.serviceUrl},
            {"requestHeaders", headersValue(e.requestHeaders)},
            {"requestBody", requestBody},
            {"status", e.status ? Value(static_cast<int64_t>(e.status)) : Value()},
            {"responseHeaders", headersValue(e.responseHeaders)},
            {"responseBody", responseBody},
            {"sentAt", Value(e.sentAt)},
            {"answeredAt", Value(e.answeredAt)},
        });
        if (!e.error.empty()) entry.set("error", Value(e.error));
        index.push_back(std::move(entry));
    }
    auto json = NSJSONSerialization::dataWithJSONObject(Value(std::move(index)), NSJSONWritingPrettyPrinted);
    if (!json) return false;
    return json->writeToFile(folder + "/index.json", true) && ok;
}
