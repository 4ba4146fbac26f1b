// A load's limits in every loading form: the total time-out (a server that
// drips bytes never resets it) and the answer's body-size cap (announced,
// chunked and unannounced bodies, files).
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "NetTestSupport.h"

using namespace nettest;

namespace {

// Records the delegate form's callbacks: bytes received and the outcome.
class LimitsTestDelegate : public NSURLConnectionDataDelegate, public NSObject {
public:
    void connectionDidReceiveResponse(Ref<NSURLConnection>, Ref<NSURLResponse>) override { ++responses; }
    void connectionDidReceiveData(Ref<NSURLConnection>, const NSData& data) override { received += data.length(); }
    void connectionDidFinishLoading(Ref<NSURLConnection>) override { finished = true; }
    void connectionDidFailWithError(Ref<NSURLConnection>, Ref<NSError> e) override { error = e; }
    bool ended() const { return finished || error; }

    int responses = 0;
    size_t received = 0;
    bool finished = false;
    Ref<NSError> error;
};

std::string chunked(const std::vector<std::string>& chunks) {
    std::string body;
    char size[32];
    for (const auto& c : chunks) {
        std::snprintf(size, sizeof size, "%zx\r\n", c.size());
        body += size + c + "\r\n";
    }
    return body + "0\r\n\r\n";
}

using LimitsTestClock = std::chrono::steady_clock;

TEST_F(NetTest, TotalTimeOutEndsADrippingAnswerInEveryForm) {
    // 2,000 bytes, one every 20 ms: never idle for long, 40 s in all, far
    // longer than a stopped or slow process takes past the time-out.
    server.route("GET", "/drip", Answer::slowBody(std::string(2000, 'd'), 1, 0.02));
    auto request = requestTo(server.url("/drip"), "GET", {}, 5);
    EXPECT_EQ(request->totalTimeoutInterval(), NSURLRequestDefaultTotalTimeoutInterval);
    request->setTotalTimeoutInterval(0.3);
    EXPECT_EQ(request->copy()->totalTimeoutInterval(), 0.3);

    auto started = LimitsTestClock::now();
    Result sync = send(*request);
    auto took = LimitsTestClock::now() - started;
    EXPECT_EQ(sync.code(), NSURLErrorTimedOut);
    EXPECT_EQ(sync.data, std::nullopt);
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::duration<double>(platform::testing::hangGuard(2)));

    Result async;
    bool completed = false;
    NSURLConnection::sendAsynchronousRequest(*request, nullptr,
                                             [&](Ref<NSURLResponse> r, std::optional<NSData> d, Ref<NSError> e) {
                                                 async = Result{std::move(d), std::move(r), std::move(e)};
                                                 completed = true;
                                             });
    auto delegate = NSObject::alloc<LimitsTestDelegate>();
    NSURLConnection::connectionWithRequest(*request, delegate);
    ASSERT_TRUE(driver().runUntil([&] { return completed && delegate->ended(); }, 3));
    EXPECT_EQ(async.code(), NSURLErrorTimedOut);
    ASSERT_NE(delegate->error, nullptr);
    EXPECT_EQ(delegate->error->code(), NSURLErrorTimedOut);
    EXPECT_EQ(delegate->responses, 1);
    EXPECT_GT(delegate->received, 0u);
    EXPECT_LT(delegate->received, 2000u);
}

// Holds a transfer, as a stopped process would be held, at its first look
// after the held answer's request came in: lets the answer go, waits until
// the service has written it whole and until the transfer has run `seconds`
// since its first look, then lets the transfer look again. Until then, and
// afterwards, looks pass.
class StoppedTransfer {
public:
    StoppedTransfer(simulator::LoopbackServer& server, std::string path, double seconds)
        : server_(server), path_(std::move(path)), seconds_(seconds) {
        platform::testing::NetworkConditions::setTransferPause([this](const std::string& url) { look(url); });
    }
    ~StoppedTransfer() { platform::testing::NetworkConditions::setTransferPause(nullptr); }
    bool held() const { return held_; }

private:
    void look(const std::string& url) {
        if (held_ || url.size() < path_.size() || url.compare(url.size() - path_.size(), path_.size(), path_) != 0)
            return;
        if (!firstLook_) firstLook_ = LimitsTestClock::now();
        if (server_.stalledCount() == 0) return;
        held_ = true;
        server_.releaseStalled();
        auto written = [&] {
            auto requests = server_.requestsTo(path_);
            return !requests.empty() && !requests.back().response.empty();
        };
        const auto guard = LimitsTestClock::now() + std::chrono::duration<double>(platform::testing::hangGuard(5));
        while (!written() && LimitsTestClock::now() < guard) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_until(*firstLook_ + std::chrono::duration_cast<LimitsTestClock::duration>(
                                                        std::chrono::duration<double>(seconds_)));
    }

    simulator::LoopbackServer& server_;
    const std::string path_;
    const double seconds_;
    std::optional<LimitsTestClock::time_point> firstLook_;
    std::atomic<bool> held_{false};
};

TEST_F(NetTest, ALoadWhoseBudgetPassedWhileStoppedTimesOutThoughItsAnswerCameIn) {
    server.route("GET", "/late", Answer::stall(Answer::ok("late")));
    auto request = requestTo(server.url("/late"));
    request->setTotalTimeoutInterval(0.2);
    StoppedTransfer stopped(server, "/late", 0.2);
    EXPECT_EQ(send(*request).code(), NSURLErrorTimedOut);
}

TEST_F(NetTest, TotalTimeOutCoversEveryHopOfARedirectChain) {
    // The first hop spends `hop` of the budget of 1.5 hop; the second answer
    // is held until its hop alone has run `hop`, which fits a budget of its
    // own but not what is left: whenever the load looks, it can only time out.
    const double hop = platform::testing::hangGuard(0.25);
    server.route("GET", "/r1", Answer::redirect("/r2").after(hop));
    server.route("GET", "/r2", Answer::stall(Answer::ok("late")));
    auto request = requestTo(server.url("/r1"), "GET", {}, 5 * hop);
    request->setTotalTimeoutInterval(1.5 * hop);
    {
        StoppedTransfer stopped(server, "/r2", hop);
        EXPECT_EQ(send(*request).code(), NSURLErrorTimedOut);
    }
    server.route("GET", "/r2", Answer::ok("late"));
    request->setTotalTimeoutInterval(0);  // back to the default
    Result r = send(*request);
    EXPECT_EQ(r.error, nullptr);
    EXPECT_EQ(r.body(), "late");
}

TEST_F(NetTest, BodyCapRefusesAnAnnouncedExcessBeforeReadingIt) {
    expectLogLine("over the cap of 1000 bytes");
    server.route("GET", "/exact", Answer::ok(std::string(1000, 'e')));
    server.route("GET", "/big", Answer::ok(std::string(1001, 'b')));
    server.route("GET", "/huge", Answer::ok("x").header("Content-Length", "99999999999999999999999"));
    server.route("HEAD", "/head", Answer::ok().header("Content-Length", "5000"));
    auto capped = [&](const std::string& path, const std::string& method = "GET") {
        auto request = requestTo(server.url(path), method);
        request->setMaximumResponseLength(1000);
        return request;
    };
    EXPECT_EQ(requestTo(server.url("/"))->maximumResponseLength(), NSURLRequestDefaultMaximumResponseLength);

    Result exact = send(*capped("/exact"));
    EXPECT_EQ(exact.error, nullptr);
    EXPECT_EQ(exact.data->length(), 1000u);

    for (const char* path : {"/big", "/huge"}) {
        Result r = send(*capped(path));
        EXPECT_EQ(r.code(), NSURLErrorDataLengthExceedsMaximum) << path;
        EXPECT_EQ(r.error->domain(), NSURLErrorDomain);
        EXPECT_EQ(r.error->localizedDescription(), "The resource exceeds the maximum size.");
        EXPECT_EQ(r.data, std::nullopt) << path;
        EXPECT_EQ(r.status(), 200) << path;
    }
    EXPECT_TRUE(logCapture().contains("announces 1001 bytes"));

    // A head announces the resource's length, not a body.
    Result head = send(*capped("/head", "HEAD"));
    EXPECT_EQ(head.error, nullptr);
    EXPECT_EQ(head.status(), 200);

    // The delegate form hears the response (its status), then the failure; no byte of the body.
    auto delegate = NSObject::alloc<LimitsTestDelegate>();
    NSURLConnection::connectionWithRequest(*capped("/big"), delegate);
    ASSERT_TRUE(driver().runUntil([&] { return delegate->ended(); }, 5));
    ASSERT_NE(delegate->error, nullptr);
    EXPECT_EQ(delegate->error->code(), NSURLErrorDataLengthExceedsMaximum);
    EXPECT_EQ(delegate->responses, 1);
    EXPECT_EQ(delegate->received, 0u);

    // No cap at all.
    auto uncapped = capped("/big");
    uncapped->setMaximumResponseLength(NSURLRequestNoMaximumResponseLength);
    EXPECT_EQ(send(*uncapped).data->length(), 1001u);
}

TEST_F(NetTest, BodyCapStopsAGrowingBodyInEveryForm) {
    expectLogLine("grew past 1000 bytes");
    const std::string chunk(400, 'c');
    server.route("GET", "/chunked",
                 Answer::ok(chunked({chunk, chunk, chunk, chunk})).header("Transfer-Encoding", "chunked"));
    // No length and no chunking: the body runs until the server closes.
    server.route("GET", "/unannounced", Answer::ok(std::string(3000, 'u')).unframed());
    auto capped = [&](const std::string& path) {
        auto request = requestTo(server.url(path));
        request->setMaximumResponseLength(1000);
        return request;
    };

    for (const char* path : {"/chunked", "/unannounced"}) {
        Result r = send(*capped(path));
        EXPECT_EQ(r.code(), NSURLErrorDataLengthExceedsMaximum) << path;
        EXPECT_EQ(r.data, std::nullopt) << path;
        EXPECT_EQ(r.status(), 200) << path;
    }

    Result async;
    bool completed = false;
    NSURLConnection::sendAsynchronousRequest(*capped("/chunked"), nullptr,
                                             [&](Ref<NSURLResponse> r, std::optional<NSData> d, Ref<NSError> e) {
                                                 async = Result{std::move(d), std::move(r), std::move(e)};
                                                 completed = true;
                                             });
    // The delegate form has been given at most the cap when it hears of it.
    auto delegate = NSObject::alloc<LimitsTestDelegate>();
    NSURLConnection::connectionWithRequest(*capped("/chunked"), delegate);
    ASSERT_TRUE(driver().runUntil([&] { return completed && delegate->ended(); }, 5));
    EXPECT_EQ(async.code(), NSURLErrorDataLengthExceedsMaximum);
    EXPECT_EQ(async.data, std::nullopt);
    ASSERT_NE(delegate->error, nullptr);
    EXPECT_EQ(delegate->error->code(), NSURLErrorDataLengthExceedsMaximum);
    EXPECT_EQ(delegate->responses, 1);
    EXPECT_EQ(delegate->received, 1000u);
    EXPECT_FALSE(delegate->finished);
}

TEST_F(NetTest, BodyCapAppliesToFilesBeforeTheyAreRead) {
    expectLogLine("is a file of 2048 bytes");
    std::string path = home() + "/big.bin";
    std::ofstream(path, std::ios::binary) << std::string(2048, 'f');
    auto request = NSMutableURLRequest::requestWithURL(NSURL::fileURLWithPath(path));
    request->setMaximumResponseLength(2047);
    EXPECT_EQ(send(*request).code(), NSURLErrorDataLengthExceedsMaximum);
    request->setMaximumResponseLength(2048);
    EXPECT_EQ(send(*request).data->length(), 2048u);
}

}  // namespace
