// A local HTTP/1.1 server on 127.0.0.1 (ephemeral ports, or ones asked for)
// that plays remote services in tests and in the demo: scripted answers per
// method and path (status, headers, body, delays, stalls, redirects, dropped
// connections, truncated, slow or streamed bodies) and a byte-exact record of
// every exchange. It takes any request line and header fields a client sends
// (up to 1 MiB of head; more is answered 431).
// It listens twice: plain http (url()) and https (httpsURL()), whose
// certificate is issued at start by a test certificate authority of its own
// (TestCertificateAuthority.h), or when first asked for (setHttpsOnDemand).
// A client trusts that listener only after adding certificateAuthorityPEM()
// to its trusted authorities; both listeners serve the same routes and share
// one record.
// The clients' own services are built on it as classes of their own.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "simulator/TestCertificateAuthority.h"

namespace simulator {

using HeaderList = std::vector<std::pair<std::string, std::string>>;
using QueryFields = std::vector<std::pair<std::string, std::string>>;

// "a=1&b=%20" → {{"a", "1"}, {"b", " "}}, in order; a piece without "=" has
// an empty value; an undecodable key or value stays raw.
QueryFields parseQueryFields(std::string_view rawQuery);
// The first value of the field `name`; nullopt when absent.
std::optional<std::string> queryField(const QueryFields& fields, std::string_view name);

// One request as it arrived, with the answer that went back.
struct RecordedRequest {
    size_t index = 0;          // 0, 1, … in arrival order
    std::string method;
    std::string target;        // the request target as sent ("/p?q")
    std::string path;          // target up to "?", raw
    std::optional<std::string> query;  // raw text after "?", nullopt when none
    HeaderList headers;        // in order, names and values as sent
    std::string head;          // request line and header lines with their CRLFs, byte for byte
    std::string body;          // body bytes (chunked bodies decoded)
    bool secure = false;       // arrived on the https listener
    double time = 0;           // real seconds since the server started
    std::string response;      // the bytes written back ("" when dropped or not yet answered)

    // First value of a header (names compare case-insensitively).
    std::optional<std::string> header(std::string_view name) const;
};

// A scripted answer. Built with the factory functions and adjusted fluently.
// Content-Length is added unless the headers set it or a Transfer-Encoding
// (whose framing the body then carries):
//   Answer::ok("{}").header("Content-Type", "application/json").after(0.2)
struct Answer {
    enum class Kind { Normal, Stall, Drop, Truncated, SlowBody, Streamed };
    // Sends one piece of a streamed body at once; false when the client is gone.
    using BodyWriter = std::function<bool(std::string_view piece)>;

    Kind kind = Kind::Normal;
    int status = 200;
    HeaderList headers;
    std::string body;
    double delay = 0;          // real seconds before anything is written
    size_t sentBytes = 0;      // Truncated: body bytes written before the connection closes
    size_t chunkSize = 0;      // SlowBody: bytes per write
    double chunkInterval = 0;  // SlowBody: real seconds between writes
    bool closeDelimited = false;  // no Content-Length; the connection closes after the body

    static Answer ok(std::string body = {});
    static Answer withStatus(int status, std::string body = {});
    // 3xx with a Location header.
    static Answer redirect(std::string location, int status = 302);
    // Holds the request until releaseStalled() (then answers `then`) or stop() (then drops).
    static Answer stall(Answer then = ok());
    // Closes the connection without writing anything.
    static Answer drop();
    // Announces the whole body's length but writes only `sentBytes` of it, then closes.
    static Answer truncated(std::string body, size_t sentBytes);
    // Writes the body `chunkSize` bytes at a time, `interval` real seconds apart.
    static Answer slowBody(std::string body, size_t chunkSize, double interval);
    // Writes the head, then calls `produce` once on the connection's thread
    // with a writer that sends each piece as it is given (chunked unless the
    // headers set a Content-Length). `produce` returns true when the body is
    // whole; false cuts the connection (a chunked body then lacks its end).
    // It is called even when the head cannot be written or no body may
    // follow (HEAD, 204, 304): its writer then refuses every piece.
    static Answer streamed(int status, std::function<bool(const BodyWriter& write)> produce);

    Answer& header(std::string name, std::string value);
    Answer& after(double seconds);
    // Sends no Content-Length: the body ends when the server closes the connection.
    Answer& unframed();

    std::shared_ptr<Answer> then;  // the answer a released stall gives
    std::function<bool(const BodyWriter&)> stream;  // Streamed: the body's producer
};

using Handler = std::function<Answer(const RecordedRequest&)>;

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();  // stops
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // The certificate the https listener presents (before start; Valid by default).
    void setTLSCertificate(TLSCertificate kind);

    // Before start: the https listener, its keys and certificates are made
    // when first asked for (httpsPort(), httpsURL() or
    // certificateAuthorityPEM()) rather than at start, which then costs a few
    // milliseconds less. Not for a process that forks after start: a child
    // asking first would make a listener of its own.
    void setHttpsOnDemand(bool onDemand);
    // Before start: the ports to listen on when they are free (0: any);
    // ephemeral ones otherwise. A port another listener holds is never shared.
    void setPreferredPorts(int httpPort, int httpsPort);
    // False: the record keeps no answer bytes (RecordedRequest::response
    // stays empty), for a server passing large bodies on.
    void setKeepsAnswers(bool keeps);

    // Makes the test authority and the server certificate, binds 127.0.0.1 on
    // two ephemeral ports (http and https) and serves on threads of its own.
    // False when it cannot bind or is already running.
    bool start();
    // Releases stalled answers (dropping them), closes every connection and
    // joins the server's threads. Idempotent; never hangs.
    void stop();
    bool isRunning() const;

    int port() const;
    // "http://127.0.0.1:<port>" + path.
    std::string url(std::string_view path = "/") const;
    // (Starts the https listener when on demand.) 0 when it cannot start.
    int httpsPort() const;
    // Whether the https listener is up (never starts it).
    bool httpsStarted() const;
    // "https://<host>:<httpsPort>" + path; the certificate names 127.0.0.1 and localhost.
    std::string httpsURL(std::string_view path = "/", std::string_view host = "127.0.0.1") const;
    // The PEM text of the authority that issued the https certificate (new at
    // each start; empty before the first).
    std::string certificateAuthorityPEM() const;

    // Routes match the method exactly and the path (without query) exactly.
    // A later route for the same method and path replaces the earlier one.
    void route(std::string method, std::string path, Answer answer);
    // Answers in turn, the last one repeating.
    void route(std::string method, std::string path, std::vector<Answer> answers);
    void route(std::string method, std::string path, Handler handler);
    // Answers what no route matches (default: 404 with an empty body).
    void setFallback(Handler handler);

    // Lets every stalled request go on with its `then` answer.
    void releaseStalled();
    size_t stalledCount() const;

    // Wait in real time (for network events only) until so many requests have
    // arrived / are stalled; false after hangGuard(realTimeoutSeconds).
    bool waitForRequests(size_t count, double realTimeoutSeconds) const;
    bool waitForStalled(size_t count, double realTimeoutSeconds) const;

    // The record, thread-safe copies.
    std::vector<RecordedRequest> requests() const;
    size_t requestCount() const;
    std::vector<RecordedRequest> requestsTo(std::string_view path) const;
    void clearRecord();

    // Writes each exchange as "<nnn>-request.http" (head and body as received)
    // and "<nnn>-response.http" (the bytes written back) into `folder`,
    // created when missing. False when a file cannot be written.
    bool writeRecord(const std::string& folder) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace simulator

namespace platform::testing {
using simulator::LoopbackServer;
}  // namespace platform::testing
