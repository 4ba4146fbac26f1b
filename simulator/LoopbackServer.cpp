#include "simulator/LoopbackServer.h"

#include <httplib.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/foundation/NSURL.h"
#include "platform/runtime/HangGuard.h"

namespace simulator {

namespace {

using SteadyClock = std::chrono::steady_clock;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 201: return "Created";
        case 202: return "Accepted";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 304: return "Not Modified";
        case 307: return "Temporary Redirect";
        case 308: return "Permanent Redirect";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 418: return "I'm a teapot";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

// Request line, header lines and the blank line, parsed from the raw head.
void parseHead(std::string_view head, RecordedRequest& r) {
    size_t lineEnd = head.find("\r\n");
    std::string_view requestLine = head.substr(0, lineEnd);
    size_t sp1 = requestLine.find(' ');
    size_t sp2 = requestLine.rfind(' ');
    if (sp1 != std::string_view::npos && sp2 > sp1) {
        r.method = std::string(requestLine.substr(0, sp1));
        r.target = std::string(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
    }
    size_t q = r.target.find('?');
    r.path = r.target.substr(0, q);
    if (q != std::string::npos) r.query = r.target.substr(q + 1);
    size_t pos = lineEnd == std::string_view::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string_view::npos) end = head.size();
        std::string_view line = head.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) break;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
        r.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }
}

// Runs each connection on a thread of its own, so stalled answers never
// hold up other requests; joins them all at shutdown.
class ThreadPerConnection : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override {
        std::lock_guard lock(mutex_);
        for (auto it = threads_.begin(); it != threads_.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = threads_.erase(it);
            } else {
                ++it;
            }
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        threads_.push_back({std::thread([fn = std::move(fn), done] {
                                fn();
                                done->store(true);
                            }),
                            done});
    }
    void shutdown() override {
        std::list<Worker> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& w : threads) w.thread.join();
    }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex mutex_;
    std::list<Worker> threads_;
};

class Connection;

}  // namespace

struct LoopbackServer::Impl {
    class Server;

    mutable std::mutex mutex;
    std::condition_variable stallChanged;
    mutable std::condition_variable recordChanged;
    std::unique_ptr<Server> server;     // http
    std::unique_ptr<Server> tlsServer;  // https
    std::thread listenThread;
    std::thread tlsListenThread;
    std::mutex tlsMutex;  // guards the https listener's fields below
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    std::atomic<bool> listenEnded{false};
    std::atomic<bool> tlsListenEnded{false};
    // Read by handlers on connection threads (building URLs); the client that
    // connected learnt the port through a socket, which the race checker
    // cannot see as an ordering.
    std::atomic<int> port{0};
    int tlsPort = 0;
    TLSCertificate certificateKind = TLSCertificate::Valid;
    std::atomic<bool> httpsOnDemand{false};
    std::atomic<bool> keepsAnswers{true};
    int preferredPort = 0;
    int preferredTlsPort = 0;
    std::string authorityPEM;
    SSL_CTX* sslContext = nullptr;  // made with the https listener, freed at stop
    SteadyClock::time_point startedAt = SteadyClock::now();

    struct Route {
        std::vector<Answer> answers;
        size_t next = 0;
        Handler handler;
    };
    std::map<std::pair<std::string, std::string>, Route> routes;
    Handler fallback;
    std::vector<RecordedRequest> record;
    uint64_t releaseGeneration = 0;
    size_t stalled = 0;
    std::set<int> openSockets;

    Answer answerFor(const RecordedRequest& request);
    // `releasesBefore` is the release generation when the request was
    // recorded: a stall ends at any later release, even one that came before
    // the stall began to wait (a test that waits for the request may release
    // it in that gap).
    void serve(Connection& connection, const RecordedRequest& request, uint64_t releasesBefore);
    // Waits up to `seconds` (forever when negative) for stop or a release; true on stop.
    bool waitUnlessStopped(double seconds, uint64_t* releaseSeen = nullptr);
    // Starts the https listener (once while running); its port, 0 when it
    // cannot start.
    int secureListenerPort();
};

namespace {

// The socket of one client connection, read through a buffer of its own;
// what is written back is kept for the record (unless the server keeps no
// answers). The socket does not block: every wait is a poll, which a process
// stopped and continued resumes (a blocking call on a socket with a time-out,
// as the HTTP library sets them, would fail with EINTR instead).
class Connection {
public:
    // With `ssl` (not yet shaken hands), bytes travel through TLS.
    Connection(int fd, SSL* ssl, LoopbackServer::Impl& server) : fd_(fd), ssl_(ssl), server_(server) {
        int flags = ::fcntl(fd_, F_GETFL);
        if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    }

    // The TLS handshake; false when it fails (e.g. a client that does not
    // trust the certificate) or the client stays silent past the idle limit.
    bool handshake() {
        for (;;) {
            int r = SSL_accept(ssl_);
            if (r == 1) return true;
            if (!waitForTLS(r)) return false;
        }
    }

    // Up to `size` bytes; 0 at the end, -1 on failure (or a stopping server).
    ssize_t read(char* ptr, size_t size) {
        if (pos_ >= buffer_.size()) {
            char chunk[4096];
            ssize_t n;
            for (;;) {
                if (dropped_) return -1;
                if (ssl_) {
                    n = SSL_read(ssl_, chunk, sizeof chunk);
                    if (n > 0) break;
                    if (SSL_get_error(ssl_, static_cast<int>(n)) == SSL_ERROR_ZERO_RETURN) return 0;
                    if (!waitForTLS(static_cast<int>(n))) return -1;
                } else {
                    n = ::recv(fd_, chunk, sizeof chunk, 0);
                    if (n >= 0) break;
                    if (!retries(POLLIN)) return -1;
                }
            }
            if (n == 0) return 0;
            buffer_.assign(chunk, static_cast<size_t>(n));
            pos_ = 0;
        }
        size_t n = std::min(size, buffer_.size() - pos_);
        std::memcpy(ptr, buffer_.data() + pos_, n);
        pos_ += n;
        return static_cast<ssize_t>(n);
    }

    // Appends to `out` up to and including `delimiter`; false when the
    // connection ends first or `out` grows past `limit` without it.
    bool readThrough(std::string_view delimiter, size_t limit, std::string& out) {
        char c;
        while (out.size() < delimiter.size() || out.compare(out.size() - delimiter.size(), delimiter.size(), delimiter) != 0) {
            if (out.size() >= limit || read(&c, 1) != 1) return false;
            out.push_back(c);
        }
        return true;
    }
    // Reads exactly `size` bytes; false when the connection ends first.
    bool readExactly(size_t size, std::string& out) {
        char chunk[16384];
        while (size > 0) {
            ssize_t n = read(chunk, std::min(size, sizeof chunk));
            if (n <= 0) return false;
            out.append(chunk, static_cast<size_t>(n));
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    bool writeRaw(const char* ptr, size_t size) {
        size_t done = 0;
        while (done < size) {
            if (dropped_) return false;
            ssize_t n;
            if (ssl_) {
                n = SSL_write(ssl_, ptr + done, static_cast<int>(std::min<size_t>(size - done, 1 << 20)));
                if (n <= 0) {
                    if (waitForTLS(static_cast<int>(n))) continue;
                    return false;
                }
            } else {
                n = ::send(fd_, ptr + done, size - done, MSG_NOSIGNAL);
                if (n < 0) {
                    if (retries(POLLOUT)) continue;
                    return false;
                }
            }
            if (server_.keepsAnswers.load()) written_.append(ptr + done, static_cast<size_t>(n));
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool writeRaw(const std::string& s) { return writeRaw(s.data(), s.size()); }

    // Closes the connection; `graceful` first ends a TLS session properly
    // (a close-delimited body), otherwise it is cut.
    void drop(bool graceful = false) {
        if (graceful && ssl_ && !dropped_) closeTLS();
        dropped_ = true;
        ::shutdown(fd_, SHUT_RDWR);
    }
    // Sends the TLS session's end (close_notify), waiting while the socket
    // is full; the client's own end is not waited for.
    void closeTLS() {
        for (;;) {
            int r = SSL_shutdown(ssl_);
            if (r >= 0 || SSL_get_error(ssl_, r) != SSL_ERROR_WANT_WRITE || !waitFor(POLLOUT)) return;
        }
    }
    void beginRequest() { written_.clear(); }
    bool dropped() const { return dropped_; }
    bool hasBuffered() const { return pos_ < buffer_.size() || (ssl_ && SSL_pending(ssl_) > 0); }
    const std::string& written() const { return written_; }

    // Waits until the socket is ready, in short slices so a stopping server
    // is noticed; gives up after the idle limit.
    bool waitFor(short events) const {
        auto deadline = SteadyClock::now() + std::chrono::duration<double>(idleLimit());
        while (!server_.stopping.load()) {
            pollfd p{fd_, events, 0};
            int r = ::poll(&p, 1, 20);
            if (r > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
            if (r < 0 && errno != EINTR) return false;
            if (SteadyClock::now() > deadline) return false;
        }
        return false;
    }

private:
    // How long a client may keep the server waiting: for its handshake, its
    // first or next request, the rest of one begun, or room to write. It only
    // frees the threads of clients that are gone: one the machine kept from
    // running for seconds still gets its answer, so it stretches as the
    // tests' own waits do, and outlasts them.
    static double idleLimit() { return platform::testing::hangGuard(10); }

    // After a plain call on the socket failed: true (to call again) when it
    // was interrupted, or would have blocked and the socket became ready.
    bool retries(short events) const {
        if (errno == EINTR) return true;
        return (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(events);
    }
    // After a TLS call returned `result` <= 0: true (to call again) when it
    // waits for the socket and the socket became ready, or was interrupted.
    bool waitForTLS(int result) const {
        switch (SSL_get_error(ssl_, result)) {
            case SSL_ERROR_WANT_READ: return waitFor(POLLIN);
            case SSL_ERROR_WANT_WRITE: return waitFor(POLLOUT);
            case SSL_ERROR_SYSCALL:
                if (result >= 0 || errno != EINTR) return false;
                ERR_clear_error();
                return true;
            default: return false;
        }
    }

    int fd_;
    SSL* ssl_;
    LoopbackServer::Impl& server_;
    std::string buffer_;
    size_t pos_ = 0;
    std::string written_;
    bool dropped_ = false;
};

}  // namespace

// The HTTP library listens and accepts; requests are read here, so that any
// request line and header a client sends is taken (up to kMaximumHeadBytes),
// and the record, the sockets and the answers are ours.
class LoopbackServer::Impl::Server : public httplib::Server {
public:
    // A request head may be this long; a longer one is answered 431.
    static constexpr size_t kMaximumHeadBytes = 1024 * 1024;
    // A request body may be this long; a longer one is answered 413.
    static constexpr size_t kMaximumBodyBytes = 256 * 1024 * 1024;

    Server(Impl& impl, bool secure) : impl_(impl), secure_(secure) {
        new_task_queue = [] { return new ThreadPerConnection(); };
        // Not the library's SO_REUSEPORT: a port another listener holds must
        // not be shared (a port asked for again is taken only when free).
        set_socket_options([](socket_t sock) {
            int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
    }

    // The library listens with a backlog of 5; bursts of clients would see
    // their connections retried a second later.
    void raiseBacklog() { ::listen(svr_sock_.load(), 128); }

private:
    bool process_and_close_socket(socket_t sock) override {
        {
            std::lock_guard lock(impl_.mutex);
            impl_.openSockets.insert(sock);
        }
        SSL* ssl = nullptr;
        if (secure_) {
            ssl = SSL_new(impl_.sslContext);
            SSL_set_fd(ssl, sock);
        }
        Connection connection(sock, ssl, impl_);
        if (ssl && !connection.handshake()) {  // e.g. a client that does not trust the certificate
            ERR_clear_error();
            connection.drop();
        }
        while (!impl_.stopping.load() && !connection.dropped()) {
            if (!connection.hasBuffered() && !connection.waitFor(POLLIN)) break;
            connection.beginRequest();
            if (!serveOneRequest(connection)) break;
        }
        {
            std::lock_guard lock(impl_.mutex);
            impl_.openSockets.erase(sock);
        }
        if (ssl) {
            if (!connection.dropped()) connection.closeTLS();
            SSL_free(ssl);
            ERR_clear_error();
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return true;
    }

    // Reads one request and answers it; false when the connection is to close.
    bool serveOneRequest(Connection& connection) {
        RecordedRequest r;
        // A request starts with its method's letters: anything else (a TLS
        // handshake on the plain listener) is refused at once.
        char first = 0;
        if (connection.read(&first, 1) != 1) return false;
        if (!std::isupper(static_cast<unsigned char>(first))) return refuse(connection, 400, "Bad Request");
        r.head.assign(1, first);
        if (!connection.readThrough("\r\n\r\n", kMaximumHeadBytes, r.head)) {
            if (r.head.size() >= kMaximumHeadBytes) refuse(connection, 431, "Request Header Fields Too Large");
            return false;
        }
        parseHead(r.head, r);
        if (r.method.empty() || r.target.empty()) return refuse(connection, 400, "Bad Request");
        std::optional<std::string> length = r.header("Content-Length");
        if (r.header("Transfer-Encoding")) {
            if (!readChunkedBody(connection, r.body)) return refuse(connection, 400, "Bad Request");
        } else if (length) {
            char* end = nullptr;
            unsigned long long bytes = std::strtoull(length->c_str(), &end, 10);
            if (length->empty() || *end != '\0' || !std::isdigit(static_cast<unsigned char>((*length)[0])))
                return refuse(connection, 400, "Bad Request");
            if (bytes > kMaximumBodyBytes) return refuse(connection, 413, "Payload Too Large");
            if (!connection.readExactly(static_cast<size_t>(bytes), r.body)) return false;
        }
        r.secure = secure_;
        r.time = std::chrono::duration<double>(SteadyClock::now() - impl_.startedAt).count();
        uint64_t releasesBefore;
        {
            std::lock_guard lock(impl_.mutex);
            r.index = impl_.record.size();
            releasesBefore = impl_.releaseGeneration;
            impl_.record.push_back(r);
        }
        impl_.recordChanged.notify_all();
        bool close = closesAfter(r);
        impl_.serve(connection, r, releasesBefore);
        return !close;
    }

    // The body of a chunked request, decoded (extensions and trailers skipped).
    static bool readChunkedBody(Connection& connection, std::string& body) {
        std::string line;
        for (;;) {
            line.clear();
            if (!connection.readThrough("\r\n", 1024, line)) return false;
            char* end = nullptr;
            unsigned long long size = std::strtoull(line.c_str(), &end, 16);
            if (end == line.c_str() || (*end != ';' && *end != '\r')) return false;
            if (size == 0) break;
            if (size > kMaximumBodyBytes - body.size()) return false;
            if (!connection.readExactly(static_cast<size_t>(size), body)) return false;
            std::string crlf;
            if (!connection.readExactly(2, crlf) || crlf != "\r\n") return false;
        }
        // Trailer fields up to the blank line.
        do {
            line.clear();
            if (!connection.readThrough("\r\n", kMaximumHeadBytes, line)) return false;
        } while (line != "\r\n");
        return true;
    }

    // HTTP/1.0 closes unless kept alive; HTTP/1.1 stays open unless closed.
    static bool closesAfter(const RecordedRequest& r) {
        std::string connectionField = r.header("Connection").value_or("");
        std::transform(connectionField.begin(), connectionField.end(), connectionField.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        std::string_view requestLine = std::string_view(r.head).substr(0, r.head.find("\r\n"));
        bool http10 = requestLine.size() >= 8 && requestLine.substr(requestLine.size() - 8) == "HTTP/1.0";
        return connectionField.find("close") != std::string::npos ||
               (http10 && connectionField.find("keep-alive") == std::string::npos);
    }

    // Answers a request that cannot be read, and closes.
    static bool refuse(Connection& connection, int status, const char* reason) {
        connection.writeRaw("HTTP/1.1 " + std::to_string(status) + " " + reason +
                            "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        connection.drop();
        return false;
    }

    Impl& impl_;
    bool secure_;
};

Answer LoopbackServer::Impl::answerFor(const RecordedRequest& request) {
    Handler handler;
    {
        std::lock_guard lock(mutex);
        auto it = routes.find({request.method, request.path});
        if (it == routes.end() && request.method == "HEAD") it = routes.find({"GET", request.path});
        if (it != routes.end()) {
            Route& route = it->second;
            if (!route.handler) {
                size_t i = std::min(route.next, route.answers.size() - 1);
                if (route.next < route.answers.size()) ++route.next;
                return route.answers[i];
            }
            handler = route.handler;
        } else {
            handler = fallback;
        }
    }
    if (!handler) return Answer::withStatus(404);
    try {
        return handler(request);
    } catch (const std::exception& e) {
        return Answer::withStatus(500, std::string("handler failed: ") + e.what());
    } catch (...) {
        return Answer::withStatus(500, "handler failed");
    }
}

bool LoopbackServer::Impl::waitUnlessStopped(double seconds, uint64_t* releaseSeen) {
    std::unique_lock lock(mutex);
    auto done = [&] { return stopping.load() || (releaseSeen && releaseGeneration != *releaseSeen); };
    if (seconds < 0) {
        stallChanged.wait(lock, done);
    } else {
        stallChanged.wait_for(lock, std::chrono::duration<double>(seconds), done);
    }
    return stopping.load();
}

void LoopbackServer::Impl::serve(Connection& connection, const RecordedRequest& request, uint64_t releasesBefore) {
    Answer answer = answerFor(request);
    if (answer.delay > 0 && waitUnlessStopped(answer.delay)) answer = Answer::drop();
    if (answer.kind == Answer::Kind::Stall) {
        {
            std::lock_guard lock(mutex);
            ++stalled;
        }
        recordChanged.notify_all();
        bool stopped = waitUnlessStopped(-1, &releasesBefore);
        {
            std::lock_guard lock(mutex);
            --stalled;
        }
        answer = stopped || !answer.then ? Answer::drop() : *answer.then;
        if (answer.delay > 0 && waitUnlessStopped(answer.delay)) answer = Answer::drop();
    }

    if (answer.kind == Answer::Kind::Drop) {
        connection.drop();
    } else {
        bool noBody = answer.status == 204 || answer.status == 304 || (answer.status >= 100 && answer.status < 200) ||
                      request.method == "HEAD";
        std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " + reasonPhrase(answer.status) + "\r\n";
        bool hasLength = false;
        for (const auto& [name, value] : answer.headers) {
            head += name + ": " + value + "\r\n";
            // A scripted Transfer-Encoding brings its own framing in the body.
            hasLength = hasLength || equalsIgnoringCase(name, "Content-Length") ||
                        equalsIgnoringCase(name, "Transfer-Encoding");
        }
        if (answer.kind == Answer::Kind::Streamed && !hasLength && !noBody)
            head += "Transfer-Encoding: chunked\r\n";
        else if (!hasLength && !noBody && !answer.closeDelimited)
            head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
        head += "\r\n";
        bool ok = connection.writeRaw(head);
        // A producer runs once whatever happens: it may own what its body's end settles.
        if (answer.kind == Answer::Kind::Streamed && answer.stream && (!ok || noBody))
            answer.stream([](std::string_view piece) { return piece.empty(); });
        if (ok && !noBody) {
            if (answer.kind == Answer::Kind::Truncated) {
                connection.writeRaw(answer.body.data(), std::min(answer.sentBytes, answer.body.size()));
                connection.drop();
            } else if (answer.kind == Answer::Kind::Streamed) {
                // Each piece goes out as it comes; a body without a length is chunked.
                bool chunked = !hasLength;
                auto write = [&](std::string_view piece) {
                    if (piece.empty()) return true;
                    if (!chunked) return connection.writeRaw(piece.data(), piece.size());
                    char size[24];
                    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
                    return connection.writeRaw(size, std::strlen(size)) && connection.writeRaw(piece.data(), piece.size()) &&
                           connection.writeRaw("\r\n", 2);
                };
                bool whole = answer.stream && answer.stream(write);
                if (whole && chunked) connection.writeRaw("0\r\n\r\n", 5);
                if (!whole) connection.drop();
            } else if (answer.kind == Answer::Kind::SlowBody) {
                size_t step = std::max<size_t>(1, answer.chunkSize);
                for (size_t at = 0; ok && at < answer.body.size(); at += step) {
                    if (at > 0 && waitUnlessStopped(answer.chunkInterval)) {
                        connection.drop();
                        break;
                    }
                    ok = connection.writeRaw(answer.body.data() + at, std::min(step, answer.body.size() - at));
                }
            } else {
                connection.writeRaw(answer.body);
            }
        }
        if (answer.closeDelimited) connection.drop(true);
    }
    std::lock_guard lock(mutex);
    if (request.index < record.size()) record[request.index].response = connection.written();
}

// ---- Answer ----

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (equalsIgnoringCase(n, name)) return v;
    return std::nullopt;
}

Answer Answer::ok(std::string body) { return withStatus(200, std::move(body)); }

Answer Answer::withStatus(int status, std::string body) {
    Answer a;
    a.status = status;
    a.body = std::move(body);
    return a;
}

Answer Answer::redirect(std::string location, int status) {
    return withStatus(status).header("Location", std::move(location));
}

Answer Answer::stall(Answer then) {
    Answer a;
    a.kind = Kind::Stall;
    a.then = std::make_shared<Answer>(std::move(then));
    return a;
}

Answer Answer::drop() {
    Answer a;
    a.kind = Kind::Drop;
    return a;
}

Answer Answer::truncated(std::string body, size_t sentBytes) {
    Answer a = ok(std::move(body));
    a.kind = Kind::Truncated;
    a.sentBytes = sentBytes;
    return a;
}

Answer Answer::slowBody(std::string body, size_t chunkSize, double interval) {
    Answer a = ok(std::move(body));
    a.kind = Kind::SlowBody;
    a.chunkSize = chunkSize;
    a.chunkInterval = interval;
    return a;
}

Answer Answer::streamed(int status, std::function<bool(const BodyWriter& write)> produce) {
    Answer a = withStatus(status);
    a.kind = Kind::Streamed;
    a.stream = std::move(produce);
    return a;
}

Answer& Answer::header(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
}

Answer& Answer::after(double seconds) {
    delay = seconds;
    return *this;
}

Answer& Answer::unframed() {
    closeDelimited = true;
    return *this;
}

// ---- LoopbackServer ----

LoopbackServer::LoopbackServer() : impl_(std::make_unique<Impl>()) {}

LoopbackServer::~LoopbackServer() { stop(); }

namespace {

// A server context presenting the issued certificate; null when OpenSSL fails.
SSL_CTX* makeLoopbackServerContext(const TestCertificateAuthority::Issued& issued) {
    if (issued.certificatePEM.empty()) return nullptr;
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context) return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    BIO* certBio = BIO_new_mem_buf(issued.certificatePEM.data(), static_cast<int>(issued.certificatePEM.size()));
    BIO* keyBio = BIO_new_mem_buf(issued.privateKeyPEM.data(), static_cast<int>(issued.privateKeyPEM.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    bool ok = cert && key && SSL_CTX_use_certificate(context, cert) == 1 && SSL_CTX_use_PrivateKey(context, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!ok) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

// Binds and starts one listener; 0 when it cannot bind.
int startLoopbackListener(LoopbackServer::Impl& impl, std::unique_ptr<LoopbackServer::Impl::Server>& server, std::thread& thread,
             std::atomic<bool>& ended, bool secure, int preferredPort);

}  // namespace

void LoopbackServer::setTLSCertificate(TLSCertificate kind) {
    std::lock_guard lock(impl_->tlsMutex);
    impl_->certificateKind = kind;
}

void LoopbackServer::setHttpsOnDemand(bool onDemand) { impl_->httpsOnDemand = onDemand; }

void LoopbackServer::setPreferredPorts(int httpPort, int httpsPort) {
    std::lock_guard lock(impl_->tlsMutex);
    impl_->preferredPort = httpPort;
    impl_->preferredTlsPort = httpsPort;
}

void LoopbackServer::setKeepsAnswers(bool keeps) { impl_->keepsAnswers = keeps; }

bool LoopbackServer::start() {
    if (impl_->running.load()) return false;
    impl_->stopping = false;
    impl_->startedAt = SteadyClock::now();
    int preferred;
    {
        std::lock_guard lock(impl_->tlsMutex);
        preferred = impl_->preferredPort;
    }
    impl_->port = startLoopbackListener(*impl_, impl_->server, impl_->listenThread, impl_->listenEnded, false, preferred);
    if (impl_->port == 0) return false;
    impl_->running = true;
    if (!impl_->httpsOnDemand && impl_->secureListenerPort() == 0) {
        stop();
        return false;
    }
    return true;
}

int LoopbackServer::Impl::secureListenerPort() {
    std::lock_guard lock(tlsMutex);
    if (tlsServer || !running.load()) return tlsPort;
    TestCertificateAuthority authority;
    sslContext = makeLoopbackServerContext(authority.issue(certificateKind));
    if (!sslContext) return 0;
    authorityPEM = authority.certificatePEM();
    tlsPort = startLoopbackListener(*this, tlsServer, tlsListenThread, tlsListenEnded, true, preferredTlsPort);
    if (tlsPort == 0) {
        SSL_CTX_free(sslContext);
        sslContext = nullptr;
    }
    return tlsPort;
}

namespace {

int startLoopbackListener(LoopbackServer::Impl& impl, std::unique_ptr<LoopbackServer::Impl::Server>& server, std::thread& thread,
             std::atomic<bool>& ended, bool secure, int preferredPort) {
    server = std::make_unique<LoopbackServer::Impl::Server>(impl, secure);
    int port = preferredPort > 0 && server->bind_to_port("127.0.0.1", preferredPort) ? preferredPort : 0;
    if (port == 0) {
        // A failed bind leaves the library's socket closed: start afresh.
        server = std::make_unique<LoopbackServer::Impl::Server>(impl, secure);
        port = server->bind_to_any_port("127.0.0.1");
    }
    if (port <= 0) {
        server.reset();
        return 0;
    }
    server->raiseBacklog();
    ended = false;
    thread = std::thread([s = server.get(), &ended] {
        s->listen_after_bind();
        ended = true;
    });
    // stop() only interrupts a listening server: wait until it listens. (A
    // process that forks right after start() also needs the thread settled
    // in accept, holding no lock the child would inherit.)
    while (!server->is_running() && !ended.load()) std::this_thread::yield();
    return port;
}

// Ends one listener and joins its thread.
void stopLoopbackListener(std::unique_ptr<LoopbackServer::Impl::Server>& server, std::thread& thread) {
    if (!server) return;
    server->stop();
    if (thread.joinable()) thread.join();
    server.reset();
}

}  // namespace

void LoopbackServer::stop() {
    if (!impl_->running.exchange(false)) return;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        for (int fd : impl_->openSockets) ::shutdown(fd, SHUT_RDWR);
    }
    impl_->stallChanged.notify_all();
    stopLoopbackListener(impl_->server, impl_->listenThread);
    // Taken out under the lock, ended outside it: a handler still answering
    // may ask for the https URL.
    std::unique_ptr<Impl::Server> tlsServer;
    std::thread tlsThread;
    {
        std::lock_guard lock(impl_->tlsMutex);
        tlsServer = std::move(impl_->tlsServer);
        tlsThread = std::move(impl_->tlsListenThread);
    }
    // Its connections have ended with it: the context is no longer read.
    stopLoopbackListener(tlsServer, tlsThread);
    std::lock_guard lock(impl_->tlsMutex);
    SSL_CTX_free(impl_->sslContext);
    impl_->sslContext = nullptr;
}

bool LoopbackServer::isRunning() const { return impl_->running.load(); }

int LoopbackServer::port() const { return impl_->port; }

std::string LoopbackServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(impl_->port.load()) + std::string(path);
}

int LoopbackServer::httpsPort() const { return impl_->secureListenerPort(); }

bool LoopbackServer::httpsStarted() const {
    std::lock_guard lock(impl_->tlsMutex);
    return impl_->tlsServer != nullptr;
}

std::string LoopbackServer::httpsURL(std::string_view path, std::string_view host) const {
    return "https://" + std::string(host) + ":" + std::to_string(httpsPort()) + std::string(path);
}

std::string LoopbackServer::certificateAuthorityPEM() const {
    impl_->secureListenerPort();
    std::lock_guard lock(impl_->tlsMutex);
    return impl_->authorityPEM;
}

void LoopbackServer::route(std::string method, std::string path, Answer answer) {
    route(std::move(method), std::move(path), std::vector<Answer>{std::move(answer)});
}

void LoopbackServer::route(std::string method, std::string path, std::vector<Answer> answers) {
    if (answers.empty()) answers.push_back(Answer::withStatus(404));
    std::lock_guard lock(impl_->mutex);
    impl_->routes[{std::move(method), std::move(path)}] = Impl::Route{std::move(answers), 0, nullptr};
}

void LoopbackServer::route(std::string method, std::string path, Handler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[{std::move(method), std::move(path)}] = Impl::Route{{}, 0, std::move(handler)};
}

void LoopbackServer::setFallback(Handler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->fallback = std::move(handler);
}

void LoopbackServer::releaseStalled() {
    {
        std::lock_guard lock(impl_->mutex);
        ++impl_->releaseGeneration;
    }
    impl_->stallChanged.notify_all();
}

size_t LoopbackServer::stalledCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->stalled;
}

bool LoopbackServer::waitForRequests(size_t count, double realTimeoutSeconds) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->recordChanged.wait_for(lock, std::chrono::duration<double>(platform::testing::hangGuard(realTimeoutSeconds)),
                                         [&] { return impl_->record.size() >= count; });
}

bool LoopbackServer::waitForStalled(size_t count, double realTimeoutSeconds) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->recordChanged.wait_for(lock, std::chrono::duration<double>(platform::testing::hangGuard(realTimeoutSeconds)),
                                         [&] { return impl_->stalled >= count; });
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->record;
}

size_t LoopbackServer::requestCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->record.size();
}

std::vector<RecordedRequest> LoopbackServer::requestsTo(std::string_view path) const {
    std::lock_guard lock(impl_->mutex);
    std::vector<RecordedRequest> out;
    for (const auto& r : impl_->record)
        if (r.path == path) out.push_back(r);
    return out;
}

void LoopbackServer::clearRecord() {
    std::lock_guard lock(impl_->mutex);
    impl_->record.clear();
}

bool LoopbackServer::writeRecord(const std::string& folder) const {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return false;
    for (const auto& r : requests()) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%03zu", r.index);
        std::ofstream request(folder + "/" + prefix + "-request.http", std::ios::binary | std::ios::trunc);
        request << r.head << r.body;
        std::ofstream response(folder + "/" + prefix + "-response.http", std::ios::binary | std::ios::trunc);
        response << r.response;
        if (!request || !response) return false;
    }
    return true;
}

QueryFields parseQueryFields(std::string_view rawQuery) {
    QueryFields fields;
    while (!rawQuery.empty()) {
        size_t end = rawQuery.find('&');
        std::string_view piece = rawQuery.substr(0, end);
        rawQuery = end == std::string_view::npos ? std::string_view() : rawQuery.substr(end + 1);
        if (piece.empty()) continue;
        size_t eq = piece.find('=');
        std::string_view key = piece.substr(0, eq);
        std::string_view value = eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
        auto decodedKey = platform::removePercentEscapes(key);
        auto decodedValue = platform::removePercentEscapes(value);
        fields.emplace_back(decodedKey.value_or(std::string(key)), decodedValue.value_or(std::string(value)));
    }
    return fields;
}

std::optional<std::string> queryField(const QueryFields& fields, std::string_view name) {
    for (const auto& [key, value] : fields)
        if (key == name) return value;
    return std::nullopt;
}

}  // namespace simulator

#if defined(__SANITIZE_THREAD__)
// The HTTP library is not built with ThreadSanitizer: its own locking is
// invisible to it, so accesses reported from inside the library are noise.
extern "C" __attribute__((weak)) const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n";
}
#endif
