// The synchronous and asynchronous loading forms: outcomes, redirects,
// failures, the header set on the wire, and completions.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "NetTestSupport.h"
#include "platform/runtime/NSThread.h"

using namespace nettest;

namespace {

TEST_F(NetTest, EveryHTTPStatusIsAnAnswer) {
    server.route("GET", "/ok", Answer::ok("hello").header("Content-Type", "text/plain; charset=UTF-8"));
    server.route("GET", "/empty", Answer::withStatus(204));
    server.route("GET", "/moved", Answer::withStatus(302, "no location"));
    server.route("GET", "/missing", Answer::withStatus(404, "not here"));
    server.route("GET", "/broken", Answer::withStatus(500, "oops"));
    server.route("GET", "/busy", Answer::withStatus(503));

    Result ok = get("/ok");
    EXPECT_EQ(ok.error, nullptr);
    EXPECT_EQ(ok.status(), 200);
    EXPECT_EQ(ok.body(), "hello");
    EXPECT_EQ(ok.response->MIMEType(), "text/plain");
    EXPECT_EQ(ok.response->textEncodingName(), "utf-8");
    EXPECT_EQ(ok.response->expectedContentLength(), 5);
    EXPECT_EQ(ok.response->URL()->absoluteString(), server.url("/ok"));
    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(ok.response);
    EXPECT_EQ(http->valueForHTTPHeaderField("content-type"), "text/plain; charset=UTF-8");
    EXPECT_EQ(http->allHeaderFields()["Content-Length"].stringValue(), "5");

    for (auto [path, status, body] : {std::tuple{"/empty", 204, ""}, {"/moved", 302, "no location"},
                                      {"/missing", 404, "not here"}, {"/broken", 500, "oops"}, {"/busy", 503, ""}}) {
        Result r = get(path);
        EXPECT_EQ(r.error, nullptr) << path;
        EXPECT_EQ(r.status(), status) << path;
        ASSERT_TRUE(r.data.has_value()) << path;
        EXPECT_EQ(r.body(), body) << path;
    }
}

TEST_F(NetTest, FollowsRedirectChains) {
    server.route("GET", "/r1", Answer::redirect("/r2", 301));
    server.route("GET", "/r2", Answer::redirect(server.url("/final?x=1"), 302));
    server.route("GET", "/final", Answer::ok("done"));
    Result r = get("/r1");
    EXPECT_EQ(r.error, nullptr);
    EXPECT_EQ(r.status(), 200);
    EXPECT_EQ(r.body(), "done");
    EXPECT_EQ(r.response->URL()->absoluteString(), server.url("/final?x=1"));
    EXPECT_EQ(r.response->redirectCount(), 2);
    auto record = server.requests();
    ASSERT_EQ(record.size(), 3u);
    EXPECT_EQ(record[2].target, "/final?x=1");
}

TEST_F(NetTest, RedirectsChangePostToGetExceptTemporaryAndPermanent) {
    for (int status : {301, 302, 303, 307, 308}) {
        server.clearRecord();
        server.route("POST", "/form", Answer::redirect("/target", status));
        server.route("POST", "/target", Answer::ok("posted"));
        server.route("GET", "/target", Answer::ok("got"));
        auto request = requestTo(server.url("/form"), "POST", "a=1&b=2");
        request->setValue("application/x-www-form-urlencoded", "Content-Type");
        Result r = send(*request);
        ASSERT_EQ(r.error, nullptr) << status;
        auto record = server.requests();
        ASSERT_EQ(record.size(), 2u) << status;
        const RecordedRequest& followed = record[1];
        if (status == 307 || status == 308) {
            EXPECT_EQ(r.body(), "posted") << status;
            EXPECT_EQ(followed.method, "POST");
            EXPECT_EQ(followed.body, "a=1&b=2");
            EXPECT_EQ(followed.header("Content-Type"), "application/x-www-form-urlencoded");
        } else {
            EXPECT_EQ(r.body(), "got") << status;
            EXPECT_EQ(followed.method, "GET");
            EXPECT_EQ(followed.body, "");
            EXPECT_EQ(followed.header("Content-Length"), std::nullopt);
            EXPECT_EQ(followed.header("Content-Type"), std::nullopt);
        }
    }
}

TEST_F(NetTest, RedirectLimits) {
    server.route("GET", "/loop", Answer::redirect("/loop"));
    Result endless = get("/loop");
    EXPECT_EQ(endless.code(), NSURLErrorHTTPTooManyRedirects);
    EXPECT_EQ(endless.data, std::nullopt);
    EXPECT_EQ(server.requestCount(), 17u);  // the original and 16 followed

    server.route("GET", "/a", Answer::redirect("/b"));
    server.route("GET", "/b", Answer::redirect("/c", 307));
    server.route("GET", "/c", Answer::ok("end"));
    auto within = requestTo(server.url("/a"));
    within->setMaximumRedirects(2);
    Result r = send(*within);
    EXPECT_EQ(r.status(), 200);
    EXPECT_EQ(r.response->redirectCount(), 2);

    // Over a request's own limit the redirect itself is the answer.
    auto over = requestTo(server.url("/a"));
    over->setMaximumRedirects(1);
    Result stopped = send(*over);
    EXPECT_EQ(stopped.error, nullptr);
    EXPECT_EQ(stopped.status(), 307);
    EXPECT_EQ(stopped.response->redirectCount(), 1);
    EXPECT_EQ(stopped.response->URL()->absoluteString(), server.url("/b"));
}

TEST_F(NetTest, RedirectToAnotherSchemeFails) {
    server.route("GET", "/store", Answer::redirect("itms-apps://itunes.example/app/id42"));
    Result r = get("/store");
    EXPECT_EQ(r.code(), NSURLErrorUnsupportedURL);
    auto failing = r.error->userInfo()[NSErrorFailingURLKey].object<NSURL>();
    ASSERT_NE(failing, nullptr);
    EXPECT_EQ(failing->absoluteString(), "itms-apps://itunes.example/app/id42");
    EXPECT_EQ(r.error->userInfo()[NSErrorFailingURLStringKey].stringValue(), "itms-apps://itunes.example/app/id42");
}

TEST_F(NetTest, TimesOutWithoutProgressButNotWhileBytesFlow) {
    // The idle time-out runs on real time, and the service shares the
    // process: a stop of the process stops both. A stall must end at its
    // time-out; a trickle, longer in all than its own, must outlast a stop of
    // a few seconds between two of its bytes (its time-out is longer than one).
    const double idle = platform::testing::hangGuard(0.25);
    const double trickleIdle = platform::testing::hangGuard(1);
    const double interval = 0.05;
    std::string body;
    for (int i = 0; i < 2 * static_cast<int>(1.5 * trickleIdle / interval + 1); ++i) body += static_cast<char>('0' + i % 10);
    server.route("GET", "/stall", Answer::stall());
    server.route("GET", "/trickle", Answer::slowBody(body, 2, interval));
    auto started = std::chrono::steady_clock::now();
    Result stalled = get("/stall", idle);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(stalled.code(), NSURLErrorTimedOut);
    EXPECT_EQ(stalled.error->localizedDescription(), "The request timed out.");
    EXPECT_GE(took, std::chrono::duration<double>(idle));
    EXPECT_LT(took, std::chrono::duration<double>(idle + platform::testing::hangGuard(1)));

    Result trickle = get("/trickle", trickleIdle);  // longer in all, never `trickleIdle` without a byte
    EXPECT_EQ(trickle.error, nullptr);
    EXPECT_EQ(trickle.body(), body);
}

TEST_F(NetTest, LostConnectionsAndRefusedPorts) {
    server.route("GET", "/drop", Answer::drop());
    server.route("GET", "/cut", Answer::truncated("0123456789", 3));
    Result dropped = get("/drop");
    EXPECT_EQ(dropped.code(), NSURLErrorNetworkConnectionLost);
    EXPECT_EQ(dropped.response, nullptr);
    Result cut = get("/cut");
    EXPECT_EQ(cut.code(), NSURLErrorNetworkConnectionLost);
    EXPECT_EQ(cut.data, std::nullopt);

    simulator::LoopbackServer closed;
    ASSERT_TRUE(closed.start());
    std::string url = closed.url("/x");
    closed.stop();
    Result refused = send(*requestTo(url));
    EXPECT_EQ(refused.code(), NSURLErrorCannotConnectToHost);
    EXPECT_EQ(refused.error->userInfo()[NSErrorFailingURLStringKey].stringValue(), url);
}

TEST_F(NetTest, BadAndUnsupportedURLs) {
    EXPECT_EQ(send(*NSURLRequest::requestWithURL(nullptr)).code(), NSURLErrorBadURL);
    EXPECT_EQ(send(*requestTo("http:///nohost")).code(), NSURLErrorBadURL);
    EXPECT_EQ(send(*requestTo("ftp://127.0.0.1/x")).code(), NSURLErrorUnsupportedURL);
    EXPECT_EQ(send(*requestTo("myapp://open")).code(), NSURLErrorUnsupportedURL);
    EXPECT_EQ(send(*requestTo("relative/path")).code(), NSURLErrorUnsupportedURL);
}

TEST_F(NetTest, NoNetworkFailsEveryLoadWithoutTouchingIt) {
    server.route("GET", "/ok", Answer::ok("x"));
    platform::testing::NetworkConditions::set(NetworkState::None);
    Result r = get("/ok");
    EXPECT_EQ(r.code(), NSURLErrorNotConnectedToInternet);
    EXPECT_EQ(r.error->localizedDescription(), "The Internet connection appears to be offline.");
    EXPECT_EQ(server.requestCount(), 0u);
    platform::testing::NetworkConditions::set(NetworkState::Mobile);
    EXPECT_EQ(get("/ok").body(), "x");
}

TEST_F(NetTest, SendsExactlyTheCallersHeaders) {
    server.route("GET", "/h", Answer::ok());
    server.route("POST", "/p", Answer::ok());
    server.route("PUT", "/u", Answer::ok());
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";

    auto plain = requestTo(server.url("/h?q=a%20b&r=/x"));
    plain->setValue("2", "X-B");
    plain->setValue("1", "x-a");
    plain->setValue(std::string_view("3"), "X-B");  // replaced in place
    send(*plain);

    auto post = requestTo(server.url("/p"), "POST", "{\"k\":1}");
    post->setValue("application/json", "Content-Type");
    post->setValue("Agent/1.0", "User-Agent");
    send(*post);

    send(*requestTo(server.url("/u"), "PUT"));

    auto record = server.requests();
    ASSERT_EQ(record.size(), 3u);
    EXPECT_EQ(record[0].head, "GET /h?q=a%20b&r=/x HTTP/1.1\r\n" + host + "X-B: 3\r\nx-a: 1\r\n\r\n");
    EXPECT_EQ(record[1].head, "POST /p HTTP/1.1\r\n" + host +
                                  "Content-Type: application/json\r\nUser-Agent: Agent/1.0\r\nContent-Length: 7\r\n\r\n");
    EXPECT_EQ(record[1].body, "{\"k\":1}");
    EXPECT_EQ(record[2].head, "PUT /u HTTP/1.1\r\n" + host + "Content-Length: 0\r\n\r\n");
}

TEST_F(NetTest, RefusesHeaderFieldsThatWouldSplitTheHead) {
    expectLogLine("refused header field");
    auto request = requestTo(server.url("/h"));
    request->setValue("v\r\nInjected: yes", "X-Evil");
    EXPECT_EQ(request->valueForHTTPHeaderField("X-Evil"), std::nullopt);
}

TEST_F(NetTest, FileURLsReadTheFile) {
    std::string path = home() + "/clip data.bin";
    std::ofstream(path, std::ios::binary) << std::string("\0\1\2", 3);
    Result r = send(*NSURLRequest::requestWithURL(NSURL::fileURLWithPath(path)));
    EXPECT_EQ(r.error, nullptr);
    EXPECT_EQ(r.data->length(), 3u);
    EXPECT_EQ(std::dynamic_pointer_cast<NSHTTPURLResponse>(r.response), nullptr);
    EXPECT_EQ(r.response->expectedContentLength(), 3);
    EXPECT_EQ(send(*NSURLRequest::requestWithURL(NSURL::fileURLWithPath(home() + "/none"))).code(),
              NSURLErrorFileDoesNotExist);
}

TEST_F(NetTest, DataWithContentsOfURL) {
    server.route("GET", "/page", Answer::redirect("/gone"));
    server.route("GET", "/gone", Answer::withStatus(404, "error page"));
    EXPECT_EQ(NSData::dataWithContentsOfURL(NSURL::URLWithString(server.url("/page")))->toString(), "error page");
    server.route("GET", "/drop", Answer::drop());
    EXPECT_EQ(NSData::dataWithContentsOfURL(NSURL::URLWithString(server.url("/drop"))), std::nullopt);
    EXPECT_EQ(NSData::dataWithContentsOfURL(nullptr), std::nullopt);
}

struct Completion {
    int calls = 0;
    Result result;
    bool onMain = false;
};

NSURLConnection::CompletionHandler recordInto(Completion& c) {
    return [&c](Ref<NSURLResponse> response, std::optional<NSData> data, Ref<NSError> error) {
        ++c.calls;
        c.onMain = NSThread::isMainThread();
        c.result = Result{std::move(data), std::move(response), std::move(error)};
    };
}

TEST_F(NetTest, AsynchronousCompletionRunsOnceOnTheMainQueueAfterTheCall) {
    server.route("GET", "/a", Answer::withStatus(404, "body"));
    Completion answer, bad, offline;
    NSURLConnection::sendAsynchronousRequest(*requestTo(server.url("/a")), nullptr, recordInto(answer));
    NSURLConnection::sendAsynchronousRequest(NSURLRequest::requestWithURL(nullptr), NSOperationQueue::mainQueue(),
                                             recordInto(bad));
    EXPECT_EQ(answer.calls + bad.calls, 0);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(answer.calls, 1);
    EXPECT_TRUE(answer.onMain);
    EXPECT_EQ(answer.result.status(), 404);
    EXPECT_EQ(answer.result.body(), "body");
    EXPECT_EQ(answer.result.error, nullptr);
    EXPECT_EQ(bad.calls, 1);
    EXPECT_EQ(bad.result.code(), NSURLErrorBadURL);
    EXPECT_EQ(bad.result.data, std::nullopt);

    platform::testing::NetworkConditions::set(NetworkState::None);
    NSURLConnection::sendAsynchronousRequest(*requestTo(server.url("/a")), nullptr, recordInto(offline));
    EXPECT_EQ(offline.calls, 0);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(offline.calls, 1);
    EXPECT_EQ(offline.result.code(), NSURLErrorNotConnectedToInternet);
}

TEST_F(NetTest, AsynchronousCompletionOnAnOperationQueue) {
    server.route("GET", "/a", Answer::ok("q"));
    auto queue = NSObject::alloc<NSOperationQueue>()->init();
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{true};
    NSURLConnection::sendAsynchronousRequest(*requestTo(server.url("/a")), queue,
                                             [&](Ref<NSURLResponse>, std::optional<NSData> data, Ref<NSError>) {
                                                 onMain = NSThread::isMainThread();
                                                 if (data && data->toString() == "q") ++calls;
                                             });
    ASSERT_TRUE(driver().settle());
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(onMain.load());
}

TEST_F(NetTest, ManyRequestsShareSixteenTransfersAndEachCompletesOnce) {
    std::atomic<int> arrived{0};
    server.route("GET", "/slow", [&](const RecordedRequest& r) {
        return ++arrived <= 16 ? Answer::stall(Answer::ok(r.query.value_or(""))) : Answer::ok(r.query.value_or(""));
    });
    constexpr int kRequests = 40;
    std::vector<int> calls(kRequests, 0);
    std::vector<std::string> bodies(kRequests);
    for (int i = 0; i < kRequests; ++i)
        NSURLConnection::sendAsynchronousRequest(
            *requestTo(server.url("/slow?" + std::to_string(i))), nullptr,
            [&, i](Ref<NSURLResponse>, std::optional<NSData> data, Ref<NSError>) {
                ++calls[i];
                bodies[i] = data ? data->toString() : "(none)";
            });
    ASSERT_TRUE(server.waitForStalled(16, 5));
    EXPECT_EQ(server.requestCount(), 16u);  // the other transfers wait for a free slot
    server.releaseStalled();
    ASSERT_TRUE(driver().settle());
    for (int i = 0; i < kRequests; ++i) {
        EXPECT_EQ(calls[i], 1) << i;
        EXPECT_EQ(bodies[i], std::to_string(i));
    }
}

}  // namespace
