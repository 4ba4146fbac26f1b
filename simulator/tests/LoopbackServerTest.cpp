#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <sstream>
#include <thread>

#include "platform/runtime/HangGuard.h"
#include "simulator/LoopbackServer.h"

using simulator::Answer;
using simulator::LoopbackServer;
using simulator::RecordedRequest;

namespace {

// A client socket that sends raw bytes and reads until the server closes.
class RawClient {
public:
    explicit RawClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{static_cast<time_t>(platform::testing::hangGuard(5)), 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    // A process stopped and continued sees a call on a socket with a
    // time-out fail with EINTR, or a send end short: both go on.
    void send(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            ASSERT_GT(n, 0) << std::strerror(errno);
            sent += static_cast<size_t>(n);
        }
    }
    // What one read brings: "" at the end or on failure.
    std::string readSome() {
        char buf[4096];
        for (;;) {
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
        }
    }
    std::string readAll() {
        std::string out;
        for (std::string piece; !(piece = readSome()).empty();) out += piece;
        return out;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string roundTrip(const LoopbackServer& server, const std::string& request) {
    RawClient client(server.port());
    EXPECT_TRUE(client.connected());
    client.send(request);
    return client.readAll();
}

class LoopbackServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    LoopbackServer server;
};

TEST_F(LoopbackServerTest, RecordsTheRequestAndTheAnswerByteForByte) {
    server.route("POST", "/submit", Answer::withStatus(201, "done").header("X-Reply", "yes"));
    const std::string head =
        "POST /submit?b=%20x&a=1 HTTP/1.1\r\nHost: example\r\nx-lower: v1\r\nX-Spaced:  two words \r\n"
        "Content-Type: application/octet-stream\r\nContent-Length: 5\r\nConnection: close\r\n\r\n";
    const std::string body("a\0b\r\n", 5);
    std::string response = roundTrip(server, head + body);

    EXPECT_EQ(response, "HTTP/1.1 201 Created\r\nX-Reply: yes\r\nContent-Length: 4\r\n\r\ndone");
    auto record = server.requests();
    ASSERT_EQ(record.size(), 1u);
    const RecordedRequest& r = record[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/submit?b=%20x&a=1");
    EXPECT_EQ(r.path, "/submit");
    EXPECT_EQ(r.query, "b=%20x&a=1");
    EXPECT_EQ(r.head, head);
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(r.response, response);
    ASSERT_EQ(r.headers.size(), 6u);
    EXPECT_EQ(r.headers[0], (std::pair<std::string, std::string>{"Host", "example"}));
    EXPECT_EQ(r.headers[1], (std::pair<std::string, std::string>{"x-lower", "v1"}));
    EXPECT_EQ(r.headers[2], (std::pair<std::string, std::string>{"X-Spaced", "two words"}));
    EXPECT_EQ(r.header("X-LOWER"), "v1");
    EXPECT_EQ(r.header("Accept"), std::nullopt);
}

TEST_F(LoopbackServerTest, TakesLongTargetsHeadersAndChunkedBodiesAndRefusesWhatItCannotRead) {
    server.route("GET", "/long", [](const RecordedRequest& r) { return Answer::ok(std::to_string(r.target.size())); });
    server.route("POST", "/chunks", [](const RecordedRequest& r) { return Answer::ok(r.body); });
    const std::string query(20000, 'q');
    const std::string cookie(12000, 'c');
    EXPECT_EQ(roundTrip(server, "GET /long?" + query + " HTTP/1.1\r\nHost: h\r\nCookie: " + cookie +
                                    "\r\nConnection: close\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n20006");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].header("Cookie"), cookie);
    // A chunked body is decoded (extensions and trailers skipped); HTTP/1.0 closes by itself.
    EXPECT_EQ(roundTrip(server, "POST /chunks HTTP/1.0\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                                "3;x=y\r\nabc\r\n2\r\nde\r\n0\r\nT: v\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabcde");
    EXPECT_EQ(roundTrip(server, "GET /" + std::string(1024 * 1024, 'x')).substr(0, 12), "HTTP/1.1 431");
    // The last: a TLS handshake on the plain listener, refused at once.
    for (const std::string& bad : std::vector<std::string>{"POST /chunks HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
                            "POST /chunks HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "\r\n\r\n",
                            std::string("\x16\x03\x01\x02\x00", 5)})
        EXPECT_EQ(roundTrip(server, bad).substr(0, 12), "HTTP/1.1 400") << bad;
    EXPECT_EQ(roundTrip(server, "POST /chunks HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\n").substr(0, 12),
              "HTTP/1.1 413");
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(LoopbackServerTest, StreamsABodyAsItIsProducedAndCutsItWhenTheProducerFails) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    server.route("GET", "/stream", Answer::streamed(200, [released](const Answer::BodyWriter& write) {
                     if (!write("first")) return false;
                     released.wait();
                     return write("second");
                 }));
    server.route("GET", "/sized", Answer::streamed(200, [](const Answer::BodyWriter& write) { return write("abc"); })
                                      .header("Content-Length", "3"));
    server.route("GET", "/cut", Answer::streamed(200, [](const Answer::BodyWriter& write) {
                     write("partial");
                     return false;
                 }));
    RawClient client(server.port());
    client.send("GET /stream HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
    // The first piece arrives while the producer still holds the second.
    std::string seen;
    while (seen.find("first") == std::string::npos) {
        std::string piece = client.readSome();
        ASSERT_FALSE(piece.empty());
        seen += piece;
    }
    release.set_value();
    EXPECT_EQ(seen + client.readAll(),
              "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nfirst\r\n6\r\nsecond\r\n0\r\n\r\n");
    EXPECT_EQ(roundTrip(server, "GET /sized HTTP/1.1\r\nConnection: close\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_EQ(roundTrip(server, "GET /cut HTTP/1.1\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7\r\npartial\r\n");
}

// The lowest port the system hands out to a bind to any port: one below it
// is only ever taken by a bind that names it.
int lowestEphemeralPort() {
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 0;
    return range >> low && low > 2048 ? low : 32768;
}

TEST_F(LoopbackServerTest, APreferredPortIsTakenWhenFreeAndNeverShared) {
    // A port no other test is handed between the stop and the start below:
    // picked at random below the ephemeral ones, and free.
    const int below = lowestEphemeralPort();
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(std::max(1025, below - 10000), below - 1);
    LoopbackServer first;
    int port = 0;
    for (int attempt = 0; attempt < 50 && port == 0; ++attempt) {
        const int candidate = pick(random);
        first.setPreferredPorts(candidate, 0);
        ASSERT_TRUE(first.start());
        if (first.port() == candidate) port = candidate;
        else first.stop();  // taken by another process: never shared
    }
    ASSERT_NE(port, 0) << "no port below " << below << " was free";
    LoopbackServer other;
    other.setPreferredPorts(port, 0);
    ASSERT_TRUE(other.start());
    EXPECT_NE(other.port(), port);

    first.stop();
    LoopbackServer again;
    again.setPreferredPorts(port, 0);
    ASSERT_TRUE(again.start());
    EXPECT_EQ(again.port(), port);
}

TEST_F(LoopbackServerTest, AnswersInTurnAndFallsBack) {
    server.route("GET", "/seq", std::vector<Answer>{Answer::withStatus(500), Answer::ok("second")});
    server.route("GET", "/echo", [](const RecordedRequest& r) { return Answer::ok("q=" + r.query.value_or("-")); });
    const std::string get = " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n";

    EXPECT_EQ(roundTrip(server, "GET /seq" + get).substr(0, 12), "HTTP/1.1 500");
    EXPECT_EQ(roundTrip(server, "GET /seq" + get), "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond");
    EXPECT_EQ(roundTrip(server, "GET /seq?x" + get), "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond");
    EXPECT_EQ(roundTrip(server, "GET /echo?k=v" + get), "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nq=k=v");
    EXPECT_EQ(roundTrip(server, "POST /seq HTTP/1.1\r\nHost: h\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                  .substr(0, 12),
              "HTTP/1.1 404");

    server.setFallback([](const RecordedRequest& r) { return Answer::redirect("/to" + r.path, 307); });
    EXPECT_EQ(roundTrip(server, "GET /x" + get),
              "HTTP/1.1 307 Temporary Redirect\r\nLocation: /to/x\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(server.requestsTo("/seq").size(), 4u);
    EXPECT_EQ(server.requestCount(), 6u);
}

TEST_F(LoopbackServerTest, KeepAliveConnectionsServeSeveralRequests) {
    server.route("GET", "/a", Answer::ok("A"));
    RawClient client(server.port());
    client.send("GET /a HTTP/1.1\r\nHost: h\r\n\r\nGET /a HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(client.readAll(), "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nAHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nA");
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(LoopbackServerTest, DropsTruncatesAndSlowsAnswers) {
    server.route("GET", "/drop", Answer::drop());
    server.route("GET", "/cut", Answer::truncated("0123456789", 4));
    server.route("GET", "/slow", Answer::slowBody("abcdefgh", 3, 0.01));
    const std::string get = " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n";

    EXPECT_EQ(roundTrip(server, "GET /drop" + get), "");
    EXPECT_EQ(roundTrip(server, "GET /cut" + get), "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123");
    EXPECT_EQ(roundTrip(server, "GET /slow" + get), "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nabcdefgh");
    auto record = server.requests();
    ASSERT_EQ(record.size(), 3u);
    EXPECT_EQ(record[0].response, "");
}

TEST_F(LoopbackServerTest, DelaysAnswerInRealTime) {
    server.route("GET", "/late", Answer::ok("x").after(0.15));
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(roundTrip(server, "GET /late HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n").substr(0, 12), "HTTP/1.1 200");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
}

TEST_F(LoopbackServerTest, StallsUntilReleased) {
    server.route("GET", "/hold", Answer::stall(Answer::ok("released")));
    std::string response;
    std::thread client([&] { response = roundTrip(server, "GET /hold HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n"); });
    ASSERT_TRUE(server.waitForStalled(1, 5));
    EXPECT_EQ(server.requestCount(), 1u);
    server.releaseStalled();
    client.join();
    EXPECT_EQ(response, "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nreleased");
    EXPECT_EQ(server.stalledCount(), 0u);
}

// A test that waits for the request and then releases may do so before the
// stall begins to wait: the release still lets it go. The handler runs in that
// very gap (after the record, before the wait).
TEST_F(LoopbackServerTest, AReleaseBetweenTheRecordAndTheStallLetsItGo) {
    server.route("GET", "/hold", [&](const RecordedRequest&) {
        server.releaseStalled();
        return Answer::stall(Answer::ok("released"));
    });
    std::string response = roundTrip(server, "GET /hold HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(response, "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nreleased");
    // A release before the record does not reach a later request.
    server.route("GET", "/later", Answer::stall(Answer::ok("second")));
    std::thread client([&] { response = roundTrip(server, "GET /later HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n"); });
    const bool stalled = server.waitForStalled(1, 5);
    server.releaseStalled();
    client.join();
    ASSERT_TRUE(stalled);
    EXPECT_EQ(response, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond");
}

TEST_F(LoopbackServerTest, StopReleasesStallsAndClosesConnections) {
    server.route("GET", "/hold", Answer::stall());
    server.route("GET", "/late", Answer::ok().after(platform::testing::hangGuard(10)));
    std::string stalled = "unset", delayed = "unset";
    std::thread a([&] { stalled = roundTrip(server, "GET /hold HTTP/1.1\r\nHost: h\r\n\r\n"); });
    std::thread b([&] { delayed = roundTrip(server, "GET /late HTTP/1.1\r\nHost: h\r\n\r\n"); });
    RawClient idle(server.port());  // an open connection that never sends anything
    ASSERT_TRUE(server.waitForRequests(2, 5));
    ASSERT_TRUE(server.waitForStalled(1, 5));
    auto started = std::chrono::steady_clock::now();
    server.stop();
    // Well before the delayed answer would have gone out.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::duration<double>(platform::testing::hangGuard(2)));
    a.join();
    b.join();
    EXPECT_EQ(stalled, "");
    EXPECT_EQ(delayed, "");
    EXPECT_FALSE(server.isRunning());

    // A stopped server refuses connections; it can start again on a new port.
    EXPECT_FALSE(RawClient(server.port()).connected());
    ASSERT_TRUE(server.start());
    server.route("GET", "/again", Answer::ok("again"));
    EXPECT_EQ(roundTrip(server, "GET /again HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n").substr(0, 12), "HTTP/1.1 200");
}

TEST_F(LoopbackServerTest, AnHttpsListenerOnDemandStartsOnceWhenFirstAskedForFromAnyThread) {
    server.stop();
    server.setHttpsOnDemand(true);
    ASSERT_TRUE(server.start());
    // Asked from several threads at once (and from a handler): one listener, one authority.
    server.route("GET", "/where", [&](const RecordedRequest&) { return Answer::ok(server.httpsURL("/x")); });
    std::vector<int> ports(8);
    std::vector<std::thread> askers;
    for (size_t i = 0; i < ports.size(); ++i) askers.emplace_back([&, i] { ports[i] = server.httpsPort(); });
    for (auto& t : askers) t.join();
    ASSERT_GT(ports[0], 0);
    for (int port : ports) EXPECT_EQ(port, ports[0]);
    const std::string authority = server.certificateAuthorityPEM();
    EXPECT_NE(authority.find("BEGIN CERTIFICATE"), std::string::npos);
    EXPECT_TRUE(RawClient(ports[0]).connected());
    std::string answer = roundTrip(server, "GET /where HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_NE(answer.find("\r\n\r\nhttps://127.0.0.1:" + std::to_string(ports[0]) + "/x"), std::string::npos);

    // A new start makes a new authority when https is asked for again.
    server.stop();
    EXPECT_FALSE(RawClient(ports[0]).connected());
    ASSERT_TRUE(server.start());
    ASSERT_GT(server.httpsPort(), 0);
    EXPECT_NE(server.certificateAuthorityPEM(), authority);
}

TEST_F(LoopbackServerTest, WritesEachExchangeAsFiles) {
    server.route("PUT", "/p", Answer::ok("stored"));
    std::string response = roundTrip(server, "PUT /p HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc");
    roundTrip(server, "GET /none HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
    auto folder = std::filesystem::temp_directory_path() / ("loopback-record-" + std::to_string(::getpid()));
    ASSERT_TRUE(server.writeRecord((folder / "nested").string()));
    auto read = [](const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    EXPECT_EQ(read(folder / "nested" / "000-request.http"),
              "PUT /p HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc");
    EXPECT_EQ(read(folder / "nested" / "000-response.http"), response);
    EXPECT_EQ(read(folder / "nested" / "001-response.http").substr(0, 12), "HTTP/1.1 404");
    std::filesystem::remove_all(folder);
}

TEST_F(LoopbackServerTest, ServesManyClientsAtOnce) {
    server.route("GET", "/hold", Answer::stall(Answer::ok("go")));
    constexpr int kClients = 24;
    std::vector<std::string> responses(kClients);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] {
            responses[i] = roundTrip(server, "GET /hold?i=" + std::to_string(i) + " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
        });
    ASSERT_TRUE(server.waitForStalled(kClients, 5));
    server.releaseStalled();
    for (auto& t : clients) t.join();
    for (const auto& r : responses) EXPECT_EQ(r, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\ngo");
    auto record = server.requests();
    ASSERT_EQ(record.size(), static_cast<size_t>(kClients));
    for (size_t i = 0; i < record.size(); ++i) EXPECT_EQ(record[i].index, i);
}

}  // namespace
