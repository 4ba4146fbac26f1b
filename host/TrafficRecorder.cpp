#include "host/TrafficRecorder.h"

#include <algorithm>
#include <cctype>
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

namespace {

using simulator::Answer;

// Seconds a proxied request may wait for the service without progress.
constexpr double kServiceTimeout = 30;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Fields that describe one connection, not the message: the proxy and the
// transport below it set their own.
bool isConnectionField(const std::string& name) {
    static const char* fields[] = {"host", "content-length", "transfer-encoding", "connection", "keep-alive",
                                   "proxy-connection", "te", "trailer", "upgrade"};
    std::string n = lower(name);
    return std::any_of(std::begin(fields), std::end(fields), [&](const char* f) { return n == f; });
}

// Long URLs keep their head and their tail, which say the most.
std::string shortened(const std::string& text) {
    constexpr size_t kHead = 56, kTail = 56;
    if (text.size() <= kHead + kTail + 3) return text;
    return text.substr(0, kHead) + "..." + text.substr(text.size() - kTail);
}

std::string bytesText(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// Every occurrence of `from` in `text`, also in the escaped form JSON may
// give it ("http:\/\/host"), becomes `to`.
std::string replacedOrigin(std::string text, const std::string& from, const std::string& to) {
    auto escaped = [](std::string s) {
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

TrafficRecorder::TrafficRecorder(Timeline& timeline) : timeline_(timeline) {}

TrafficRecorder::~TrafficRecorder() { stop(); }

std::optional<std::string> TrafficRecorder::addService(const std::string& name, const std::string& baseUrl) {
    auto url = NSURL::URLWithString(baseUrl);
    if (!url || url->host().empty() || (url->scheme() != "http" && url->scheme() != "https")) return std::nullopt;
    // The origin is everything before the path; the proxy serves the same paths.
    size_t authority = baseUrl.find("://") + 3;
    size_t pathStart = baseUrl.find('/', authority);
    std::string path = pathStart == std::string::npos ? "/" : baseUrl.substr(pathStart);

    auto proxy = std::make_unique<Proxy>();
    proxy->name = name;
    proxy->origin = baseUrl.substr(0, pathStart);
    Proxy* raw = proxy.get();
    proxy->server.setFallback(
        [this, raw](const simulator::RecordedRequest& request) { return forward(*raw, request); });
    if (!proxy->server.start()) return std::nullopt;
    proxy->localOrigin = proxy->server.url("");
    std::string local = proxy->server.url(path);
    {
        std::scoped_lock lock(mutex_);
        proxies_.push_back(std::move(proxy));
    }
    return local;
}

void TrafficRecorder::stop() {
    std::vector<Proxy*> proxies;
    {
        std::scoped_lock lock(mutex_);
        for (auto& proxy : proxies_) proxies.push_back(proxy.get());
    }
    for (Proxy* proxy : proxies) proxy->server.stop();
}

size_t TrafficRecorder::begin(TrafficExchange exchange, const std::string& target) {
    size_t index;
    {
        std::scoped_lock lock(mutex_);
        index = exchanges_.size() + 1;
        exchange.index = index;
        exchanges_.push_back(exchange);
    }
    std::string text = "#" + std::to_string(index) + " " + exchange.service + " " + exchange.method + " " +
                       shortened(target);
    if (!exchange.requestBody.empty()) text += " (" + bytesText(exchange.requestBody.size()) + ")";
    timeline_.add("net >", text);
    return index;
}

void TrafficRecorder::finish(size_t index, const TrafficExchange& answer) {
    {
        std::scoped_lock lock(mutex_);
        TrafficExchange& exchange = exchanges_[index - 1];
        exchange.status = answer.status;
        exchange.error = answer.error;
        exchange.responseHeaders = answer.responseHeaders;
        exchange.responseBody = answer.responseBody;
        exchange.answeredAt = timeline_.elapsed();
    }
    std::string text = "#" + std::to_string(index) + " ";
    if (answer.status == 0) text += "no answer: " + answer.error;
    else text += std::to_string(answer.status) + " (" + bytesText(answer.responseBody.size()) + ")";
    timeline_.add("net <", text);
}

Answer TrafficRecorder::forward(const Proxy& proxy, const simulator::RecordedRequest& request) {
    TrafficExchange exchange;
    exchange.service = proxy.name;
    exchange.method = request.method;
    exchange.url = proxy.origin + request.target;
    exchange.requestHeaders = request.headers;
    exchange.requestBody = request.body;
    exchange.sentAt = timeline_.elapsed();
    size_t index = begin(exchange, request.target);

    TrafficExchange answer;
    auto url = NSURL::URLWithString(exchange.url);
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
    forwarded->setTimeoutInterval(kServiceTimeout);
    // Redirects are the client's to follow.
    forwarded->setMaximumRedirects(0);

    Ref<NSURLResponse> response;
    Ref<NSError> error;
    std::optional<NSData> body = NSURLConnection::sendSynchronousRequest(forwarded, &response, &error);
    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
    if (!http || !body) {
        // The client sees what the service did: no answer.
        answer.error = error ? error->localizedDescription() : "no HTTP answer";
        finish(index, answer);
        return Answer::drop();
    }
    answer.status = static_cast<int>(http->statusCode());
    answer.responseHeaders = http->headerFields();
    answer.responseBody = body->toString();
    finish(index, answer);

    Answer passed =
        Answer::withStatus(answer.status, replacedOrigin(answer.responseBody, proxy.origin, proxy.localOrigin));
    for (const auto& [name, value] : answer.responseHeaders) {
        if (isConnectionField(name)) continue;
        bool location = lower(name) == "location";
        passed.header(name, location ? replacedOrigin(value, proxy.origin, proxy.localOrigin) : value);
    }
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
            {"method", e.method},
            {"url", e.url},
            {"requestHeaders", headersValue(e.requestHeaders)},
            {"requestBody", requestBody},
            {"status", Value(static_cast<int64_t>(e.status))},
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
