// The delegate form: callback order, redirects decided by the delegate,
// failures, cancel from anywhere, delegate queues, many connections.
#include <atomic>
#include <thread>

#include "NetTestSupport.h"
#include "platform/runtime/NSThread.h"

using namespace nettest;

namespace {

// Records every callback as a line; optional behaviours per test.
class Recorder : public NSURLConnectionDataDelegate, public NSObject {
public:
    Ref<NSURLRequest> connectionWillSendRequest(Ref<NSURLConnection> c, Ref<NSURLRequest> request,
                                                Ref<NSURLResponse> redirect) override {
        note("willSend " + request->URL()->path() +
             (redirect ? " after " + std::to_string(std::static_pointer_cast<NSHTTPURLResponse>(redirect)->statusCode())
                       : std::string()));
        if (redirect && onRedirect) return onRedirect(c, request);
        return request;
    }
    void connectionDidReceiveResponse(Ref<NSURLConnection>, Ref<NSURLResponse> response) override {
        auto http = std::static_pointer_cast<NSHTTPURLResponse>(response);
        note("response " + std::to_string(http->statusCode()) + " " + std::to_string(response->expectedContentLength()));
    }
    void connectionDidReceiveData(Ref<NSURLConnection> c, const NSData& data) override {
        body += data.toString();
        ++chunks;
        if (onData) onData(c);
    }
    void connectionDidFinishLoading(Ref<NSURLConnection>) override { note("finish"); }
    void connectionDidFailWithError(Ref<NSURLConnection>, Ref<NSError> error) override {
        failure = error;
        note("fail " + std::to_string(error->code()));
    }

    void note(std::string line) {
        std::lock_guard lock(mutex);
        if (!NSThread::isMainThread()) offMain = true;
        events.push_back(std::move(line));
    }
    std::vector<std::string> snapshot() {
        std::lock_guard lock(mutex);
        return events;
    }
    bool ended() {
        auto e = snapshot();
        return !e.empty() && (e.back() == "finish" || e.back().rfind("fail", 0) == 0);
    }

    std::mutex mutex;
    std::vector<std::string> events;
    std::string body;
    int chunks = 0;
    bool offMain = false;
    Ref<NSError> failure;
    std::function<Ref<NSURLRequest>(Ref<NSURLConnection>, Ref<NSURLRequest>)> onRedirect;
    std::function<void(Ref<NSURLConnection>)> onData;
};

using Lines = std::vector<std::string>;

class ConnectionTest : public NetTest {
protected:
    Ref<NSURLConnection> connect(const std::string& path, Ref<Recorder> delegate) {
        return NSURLConnection::connectionWithRequest(*requestTo(server.url(path)), delegate);
    }
};

TEST_F(ConnectionTest, CallbacksArriveInOrderOnTheMainThread) {
    server.route("GET", "/start", Answer::redirect("/next", 302));
    server.route("GET", "/next", Answer::slowBody("abcdef", 2, 0.01));
    auto delegate = NSObject::alloc<Recorder>();
    auto connection = connect("/start", delegate);
    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(delegate->snapshot(), (Lines{"willSend /start", "willSend /next after 302", "response 200 6", "finish"}));
    EXPECT_EQ(delegate->body, "abcdef");
    EXPECT_FALSE(delegate->offMain);
    EXPECT_EQ(connection->redirectCount(), 1);
    EXPECT_EQ(connection->originalRequest()->URL()->path(), "/start");
    EXPECT_EQ(connection->currentRequest()->URL()->path(), "/next");
}

TEST_F(ConnectionTest, NothingIsSentBeforeStart) {
    server.route("GET", "/a", Answer::ok("x"));
    auto delegate = NSObject::alloc<Recorder>();
    auto connection = NSObject::alloc<NSURLConnection>()->initWithRequest(*requestTo(server.url("/a")), delegate, false);
    ASSERT_TRUE(driver().settle());
    EXPECT_TRUE(delegate->snapshot().empty());
    EXPECT_EQ(server.requestCount(), 0u);
    connection->start();
    connection->start();  // once only
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(delegate->snapshot(), (Lines{"willSend /a", "response 200 1", "finish"}));
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(NSObject::alloc<NSURLConnection>()->initWithRequest(*NSURLRequest::requestWithURL(nullptr), delegate),
              nullptr);
}

TEST_F(ConnectionTest, DelegateDecidesRedirects) {
    server.route("GET", "/r", Answer::redirect("/elsewhere", 301).header("X-Hop", "1"));
    server.route("GET", "/chosen", Answer::ok("chosen"));

    auto refusing = NSObject::alloc<Recorder>();
    refusing->onRedirect = [](auto, auto) { return Ref<NSURLRequest>(); };
    connect("/r", refusing);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(refusing->snapshot(), (Lines{"willSend /r", "willSend /elsewhere after 301", "response 301 0", "finish"}));

    auto changing = NSObject::alloc<Recorder>();
    changing->onRedirect = [this](auto, auto) { return NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/chosen"))); };
    auto connection = connect("/r", changing);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(changing->snapshot(), (Lines{"willSend /r", "willSend /elsewhere after 301", "response 200 6", "finish"}));
    EXPECT_EQ(changing->body, "chosen");
    EXPECT_EQ(connection->redirectCount(), 1);
    EXPECT_EQ(server.requestsTo("/elsewhere").size(), 0u);
}

TEST_F(ConnectionTest, RedirectToAnotherSchemeIsOfferedToTheDelegate) {
    server.route("GET", "/store", Answer::redirect("itms-apps://store.example/id7", 302));
    auto refusing = NSObject::alloc<Recorder>();
    Ref<NSURLRequest> offered;
    refusing->onRedirect = [&](auto, Ref<NSURLRequest> request) {
        offered = request;
        return Ref<NSURLRequest>();
    };
    connect("/store", refusing);
    ASSERT_TRUE(driver().settle());
    ASSERT_NE(offered, nullptr);
    EXPECT_EQ(offered->URL()->absoluteString(), "itms-apps://store.example/id7");
    EXPECT_EQ(refusing->snapshot(), (Lines{"willSend /store", "willSend /id7 after 302", "response 302 0", "finish"}));
}

TEST_F(ConnectionTest, WithoutADelegateTheRequestIsSentAndNothingHangs) {
    expectLogLine("no delegate");
    server.route("GET", "/pixel", Answer::redirect("/counted"));
    server.route("GET", "/counted", Answer::ok("1"));
    auto connection = NSURLConnection::connectionWithRequest(*requestTo(server.url("/pixel")), nullptr);
    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(driver().settle(5));  // no transfer left waiting for an answer
    EXPECT_EQ(server.requestsTo("/counted").size(), 1u);
}

// Whatever its length, a URL reaches the log short and without its password:
// a load without a delegate, and one whose answer passes its cap.
TEST_F(ConnectionTest, ALoadsLogLinesShowItsURLShortAndWithoutItsPassword) {
    expectLogLine("NSURLConnection: no delegate; http://***@127.0.0.1:");
    expectLogLine("URL load: the answer from http://***@127.0.0.1:");
    server.route("GET", "/pixel", Answer::ok("1"));
    server.route("GET", "/big", Answer::ok(std::string(100, 'x')));
    ASSERT_NE(NSURLConnection::connectionWithRequest(*requestTo(hostileURL(server.url("/pixel"))), nullptr), nullptr);
    auto request = requestTo(hostileURL(server.url("/big")));
    request->setMaximumResponseLength(10);
    auto recorder = NSObject::alloc<Recorder>();
    NSURLConnection::connectionWithRequest(*request, recorder);
    ASSERT_TRUE(driver().runUntil([&] { return recorder->ended(); }, 10));
    ASSERT_TRUE(driver().settle(5));
    EXPECT_EQ(server.requestsTo("/pixel").size(), 1u);
    EXPECT_EQ(recorder->snapshot().back(), "fail -1103");
    expectBoundedLogLines();
}

TEST_F(ConnectionTest, FailuresEndWithOneFailCallback) {
    server.route("GET", "/drop", Answer::drop());
    server.route("GET", "/store", Answer::redirect("itms-apps://store.example/id1"));
    server.route("GET", "/chunked",
                 Answer::ok("5\r\nhello\r\n0\r\n\r\n").header("Transfer-Encoding", "chunked"));
    auto dropped = NSObject::alloc<Recorder>();
    auto store = NSObject::alloc<Recorder>();
    auto chunked = NSObject::alloc<Recorder>();
    connect("/drop", dropped);
    connect("/store", store);
    connect("/chunked", chunked);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(dropped->snapshot(), (Lines{"willSend /drop", "fail -1005"}));
    // Offered like any redirect, then refused by the transport.
    EXPECT_EQ(store->snapshot(), (Lines{"willSend /store", "willSend /id1 after 302", "fail -1002"}));
    EXPECT_EQ(store->failure->userInfo()[NSErrorFailingURLKey].object<NSURL>()->absoluteString(),
              "itms-apps://store.example/id1");
    EXPECT_EQ(chunked->snapshot(), (Lines{"willSend /chunked", "response 200 -1", "finish"}));
    EXPECT_EQ(chunked->body, "hello");

    platform::testing::NetworkConditions::set(NetworkState::None);
    auto offline = NSObject::alloc<Recorder>();
    connect("/drop", offline);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(offline->snapshot(), (Lines{"willSend /drop", "fail -1009"}));
    EXPECT_EQ(server.requestsTo("/drop").size(), 1u);
}

TEST_F(ConnectionTest, TimeOutIsAFailure) {
    server.route("GET", "/stall", Answer::stall());
    auto delegate = NSObject::alloc<Recorder>();
    NSURLConnection::connectionWithRequest(*requestTo(server.url("/stall"), "GET", {}, 0.1), delegate);
    ASSERT_TRUE(driver().runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->snapshot(), (Lines{"willSend /stall", "fail -1001"}));
}

TEST_F(ConnectionTest, CancelFromAnotherThreadStopsEverything) {
    server.route("GET", "/stall", Answer::stall(Answer::ok("late")));
    auto delegate = NSObject::alloc<Recorder>();
    Weak<Recorder> weakDelegate = delegate;
    auto connection = connect("/stall", delegate);
    delegate.reset();  // the connection holds it
    // The original request's callback runs on main first.
    ASSERT_TRUE(driver().runUntil([&] { return server.stalledCount() == 1; }, 5));
    EXPECT_FALSE(weakDelegate.expired());
    std::thread([connection] { connection->cancel(); }).join();
    EXPECT_TRUE(weakDelegate.expired());  // released by cancel: no callback can reach it
    server.releaseStalled();
    ASSERT_TRUE(driver().settle());
    connection->cancel();  // harmless again
}

TEST_F(ConnectionTest, CancelInsideACallbackEndsTheCallbacks) {
    server.route("GET", "/slow", Answer::slowBody(std::string(64, 'x'), 8, 0.01));
    auto delegate = NSObject::alloc<Recorder>();
    delegate->onData = [](Ref<NSURLConnection> c) { c->cancel(); };
    connect("/slow", delegate);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(delegate->snapshot(), (Lines{"willSend /slow", "response 200 64"}));
    EXPECT_EQ(delegate->chunks, 1);
}

TEST_F(ConnectionTest, DelegateQueueKeepsTheOrderOffTheMainThread) {
    server.route("GET", "/a", Answer::redirect("/b"));
    server.route("GET", "/b", Answer::slowBody("0123456789", 1, 0.002));
    auto queue = NSObject::alloc<NSOperationQueue>()->init();
    auto delegate = NSObject::alloc<Recorder>();
    auto connection = NSObject::alloc<NSURLConnection>()->initWithRequest(*requestTo(server.url("/a")), delegate, false);
    connection->setDelegateQueue(queue);
    connection->scheduleInRunLoop(NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode);
    connection->start();
    ASSERT_TRUE(driver().runUntil([&] { return delegate->ended(); }, 5));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(delegate->snapshot(), (Lines{"willSend /a", "willSend /b after 302", "response 200 10", "finish"}));
    EXPECT_EQ(delegate->body, "0123456789");
    EXPECT_TRUE(delegate->offMain);
}

TEST_F(ConnectionTest, ManyConnectionsEachEndExactlyOnce) {
    server.route("GET", "/ok", Answer::ok("fine"));
    server.route("GET", "/drop", Answer::drop());
    constexpr int kConnections = 30;
    std::vector<Ref<Recorder>> delegates;
    std::vector<Ref<NSURLConnection>> connections;
    for (int i = 0; i < kConnections; ++i) {
        delegates.push_back(NSObject::alloc<Recorder>());
        connections.push_back(connect(i % 3 == 0 ? "/drop" : "/ok", delegates.back()));
        if (i % 5 == 4) connections.back()->cancel();
    }
    ASSERT_TRUE(driver().settle());
    for (int i = 0; i < kConnections; ++i) {
        auto events = delegates[i]->snapshot();
        int ends = 0;
        for (const auto& e : events) ends += e == "finish" || e.rfind("fail", 0) == 0;
        EXPECT_EQ(ends, i % 5 == 4 ? 0 : 1) << i;
        if (i % 5 != 4) {
            EXPECT_EQ(events.back(), i % 3 == 0 ? "fail -1005" : "finish") << i;
        }
    }
}

}  // namespace
