// The HTTP task against the loopback server: an answer of any status is a
// success, no answer (or one over the cap, or too slow in all) a failure, a
// cancel a cancellation, and every task reports exactly one of them, also
// when cancels race with answers.
#include <string>
#include <vector>

#include "analytics/OrreryHttpAsyncTask.h"
#include "analytics/tests/OrreryTestSupport.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NetworkConditions.h"
#include "simulator/LoopbackServer.h"

namespace {

using simulator::Answer;
using simulator::LoopbackServer;

struct Outcome {
    std::string kind;  // "success", "failure" or "cancel"
    Ref<OrreryHttpAsyncTask> task;
    Ref<OrreryHTTPResponse> response;
};

class RecordingDelegate : public NSObject, public OrreryHttpAsyncTaskDelegate {
public:
    void requestSuccessful(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override {
        log_.add({"success", task, response});
    }
    void requestDidFail(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override {
        log_.add({"failure", task, response});
    }
    void requestDidCancel(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override {
        log_.add({"cancel", task, response});
    }
    std::vector<Outcome> outcomes() const { return log_.items(); }
    size_t count() const { return log_.count(); }

private:
    CallLog<Outcome> log_;
};

class OrreryHttpAsyncTaskTest : public OrreryTest {
protected:
    void SetUp() override {
        OrreryTest::SetUp();
        ASSERT_TRUE(server.start());
        delegate = NSObject::alloc<RecordingDelegate>();
    }
    void TearDown() override {
        server.stop();
        OrreryTest::TearDown();
    }

    Ref<OrreryHttpAsyncTask> send(const std::string& method, const std::string& path,
                                  std::optional<NSData> body = std::nullopt, Value headers = Value()) {
        return OrreryHttpAsyncTask::sendMethod(method, NSURL::URLWithString(server.url(path)), body, headers, delegate);
    }
    // Waits until `n` outcomes arrived, then lets everything settle so a
    // second outcome, if any, would show.
    void waitForOutcomes(size_t n) {
        ASSERT_TRUE(driver().runUntil([&] { return delegate->count() >= n; }, 10));
        ASSERT_TRUE(driver().settle());
    }

    LoopbackServer server;
    Ref<RecordingDelegate> delegate;
};

TEST_F(OrreryHttpAsyncTaskTest, AnyAnswerIsASuccess) {
    server.route("POST", "/aas.do", Answer::ok("accepted"));
    server.route("GET", "/missing", Answer::withStatus(404, "nope"));
    server.route("GET", "/broken", Answer::withStatus(500));
    auto ok = send("POST", "/aas.do", NSData::dataWithString("report"));
    auto missing = send("GET", "/missing");
    auto broken = send("GET", "/broken");
    waitForOutcomes(3);

    auto outcomes = delegate->outcomes();
    ASSERT_EQ(outcomes.size(), 3u);
    for (const auto& outcome : outcomes) {
        EXPECT_EQ(outcome.kind, "success");
        EXPECT_EQ(outcome.response->error(), nullptr);
        EXPECT_TRUE(outcome.task->isFinished());
        if (outcome.task == ok) {
            EXPECT_EQ(outcome.response->statusCode(), 200);
            EXPECT_EQ(outcome.response->body().toString(), "accepted");
            EXPECT_TRUE(outcome.response->isSuccess());
        } else if (outcome.task == missing) {
            EXPECT_EQ(outcome.response->statusCode(), 404);
            EXPECT_EQ(outcome.response->body().toString(), "nope");
            EXPECT_FALSE(outcome.response->isSuccess());
        } else {
            EXPECT_EQ(outcome.task, broken);
            EXPECT_EQ(outcome.response->statusCode(), 500);
        }
    }
}

TEST_F(OrreryHttpAsyncTaskTest, SendsExactlyTheGivenHeadersAndBody) {
    server.route("POST", "/pcr.do", Answer::ok());
    send("POST", "/pcr.do", NSData::dataWithString("\x01\x02\x03"),
         Value::dictionary({{"content-type", "application/octet-stream"}, {"or-checksum", "-12"}}));
    waitForOutcomes(1);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, "\x01\x02\x03");
    std::vector<std::string> names;
    for (const auto& [name, value] : requests[0].headers) names.push_back(name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Content-Length", "Host", "content-type", "or-checksum"}));
    EXPECT_EQ(requests[0].header("or-checksum"), "-12");
}

TEST_F(OrreryHttpAsyncTaskTest, RedirectsAreFollowedUpToTheLimit) {
    server.route("GET", "/moved", Answer::redirect(server.url("/moved-again")));
    server.route("GET", "/moved-again", Answer::redirect(server.url("/here")));
    server.route("GET", "/here", Answer::ok("final"));

    // No limit set: the redirect itself is the answer.
    auto unfollowed = send("GET", "/moved");
    waitForOutcomes(1);
    EXPECT_EQ(delegate->outcomes()[0].kind, "success");
    EXPECT_EQ(delegate->outcomes()[0].response->statusCode(), 302);
    EXPECT_EQ(unfollowed->redirectsCount(), 0);

    auto limited = OrreryHttpAsyncTask::sendMethod("GET", NSURL::URLWithString(server.url("/moved")), std::nullopt,
                                                   Value(), delegate, false);
    limited->setRedirectsLimit(1);
    limited->start();
    waitForOutcomes(2);
    EXPECT_EQ(delegate->outcomes()[1].response->statusCode(), 302);
    EXPECT_EQ(limited->redirectsCount(), 1);

    auto followed = OrreryHttpAsyncTask::sendMethod("GET", NSURL::URLWithString(server.url("/moved")), std::nullopt,
                                                    Value(), delegate, false);
    followed->setRedirectsLimit(5);
    followed->start();
    waitForOutcomes(3);
    EXPECT_EQ(delegate->outcomes()[2].response->statusCode(), 200);
    EXPECT_EQ(delegate->outcomes()[2].response->body().toString(), "final");
    EXPECT_EQ(followed->redirectsCount(), 2);
}

TEST_F(OrreryHttpAsyncTaskTest, NoAnswerIsAFailure) {
    server.route("GET", "/drop", Answer::drop());
    send("GET", "/drop");
    OrreryHttpAsyncTask::sendMethod("GET", nullptr, std::nullopt, Value(), delegate);
    expectLogLine("Orrery: an HTTP task without a URL fails");
    waitForOutcomes(2);
    for (const auto& outcome : delegate->outcomes()) {
        EXPECT_EQ(outcome.kind, "failure");
        ASSERT_NE(outcome.response->error(), nullptr);
        EXPECT_EQ(outcome.response->error()->domain(), platform::NSURLErrorDomain);
        EXPECT_EQ(outcome.response->statusCode(), 0);
    }

    // A closed port, and no network at all.
    std::string closed = server.url("/gone");
    server.stop();
    OrreryHttpAsyncTask::sendMethod("GET", NSURL::URLWithString(closed), std::nullopt, Value(), delegate);
    waitForOutcomes(3);
    EXPECT_EQ(delegate->outcomes()[2].kind, "failure");
    EXPECT_EQ(delegate->outcomes()[2].response->error()->code(), NSURLErrorCannotConnectToHost);

    platform::testing::NetworkConditions::set(NetworkState::None);
    OrreryHttpAsyncTask::sendMethod("GET", NSURL::URLWithString(closed), std::nullopt, Value(), delegate);
    waitForOutcomes(4);
    EXPECT_EQ(delegate->outcomes()[3].response->error()->code(), NSURLErrorNotConnectedToInternet);
}

TEST_F(OrreryHttpAsyncTaskTest, AnAnswerOverTheCapFailsWithALogLine) {
    // One announced, one without a length: neither is read past the cap.
    const std::string big(OrreryHttpAsyncTask::kMaximumResponseLength + 1, 'x');
    server.route("GET", "/announced", Answer::ok(big));
    server.route("GET", "/unframed", Answer::ok(big).unframed());
    server.route("GET", "/small", Answer::ok("fits"));
    expectLogLine("is larger than 1048576 bytes; the request fails");
    send("GET", "/announced");
    send("GET", "/unframed");
    auto capped = OrreryHttpAsyncTask::sendMethod("GET", NSURL::URLWithString(server.url("/small")), std::nullopt,
                                                  Value(), delegate, false);
    capped->setMaximumResponseLength(3);
    capped->start();
    waitForOutcomes(3);
    for (const auto& outcome : delegate->outcomes()) {
        EXPECT_EQ(outcome.kind, "failure");
        ASSERT_NE(outcome.response->error(), nullptr);
        EXPECT_EQ(outcome.response->error()->code(), NSURLErrorDataLengthExceedsMaximum);
        EXPECT_EQ(outcome.response->statusCode(), 200);  // the head arrived
        EXPECT_LE(outcome.response->body().length(), static_cast<size_t>(OrreryHttpAsyncTask::kMaximumResponseLength));
    }
}

// However long the URL, the cap's line shows its start, without its password.
TEST_F(OrreryHttpAsyncTaskTest, TheOverTheCapLineShowsTheURLShortAndWithoutItsPassword) {
    server.route("GET", "/announced", Answer::ok(std::string(OrreryHttpAsyncTask::kMaximumResponseLength + 1, 'x')));
    expectLogLine("an answer from http://***@127.0.0.1:");
    OrreryHttpAsyncTask::sendMethod("GET", NSURL::URLWithString(hostileURL(server.url("/announced"))), std::nullopt,
                                    Value(), delegate);
    waitForOutcomes(1);
    EXPECT_EQ(delegate->outcomes().at(0).kind, "failure");
    expectBoundedLogLines();
}

TEST_F(OrreryHttpAsyncTaskTest, ADrippingAnswerEndsAtTheTotalTimeOut) {
    // A byte every 50 ms never trips the idle time-out; the total one ends it.
    server.route("GET", "/drip", Answer::slowBody(std::string(200, 'x'), 1, 0.05));
    auto task = OrreryHttpAsyncTask::sendMethod("GET", NSURL::URLWithString(server.url("/drip")), std::nullopt, Value(),
                                                delegate, false);
    EXPECT_EQ(task->totalTimeoutInterval(), OrreryHttpAsyncTask::kTotalTimeoutSeconds);
    task->setTotalTimeoutInterval(0.5);
    task->start();
    waitForOutcomes(1);
    auto outcome = delegate->outcomes().at(0);
    EXPECT_EQ(outcome.kind, "failure");
    ASSERT_NE(outcome.response->error(), nullptr);
    EXPECT_EQ(outcome.response->error()->code(), NSURLErrorTimedOut);
}

TEST_F(OrreryHttpAsyncTaskTest, ACancelledTaskReportsOnlyTheCancel) {
    server.route("GET", "/stall", Answer::stall(Answer::ok("late")));
    auto task = send("GET", "/stall");
    ASSERT_TRUE(driver().runUntil([&] { return server.stalledCount() == 1; }, 10));
    task->setTag("group-1");
    task->setTaskParams(Value::dictionary({{"invokeURLHash", "abc"}}));
    task->cancelTask();
    task->cancelTask();
    server.releaseStalled();
    waitForOutcomes(1);

    auto outcomes = delegate->outcomes();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, "cancel");
    EXPECT_EQ(outcomes[0].response->error()->code(), NSURLErrorCancelled);
    EXPECT_EQ(outcomes[0].task->tag(), "group-1");
    EXPECT_EQ(outcomes[0].task->taskParams()["invokeURLHash"].stringValue(), "abc");
}

TEST_F(OrreryHttpAsyncTaskTest, CancellingAfterTheAnswerChangesNothing) {
    server.route("GET", "/quick", Answer::ok());
    auto task = send("GET", "/quick");
    waitForOutcomes(1);
    task->cancelTask();
    ASSERT_TRUE(driver().settle());
    ASSERT_EQ(delegate->count(), 1u);
    EXPECT_EQ(delegate->outcomes()[0].kind, "success");

    // Cancelled before it started: a cancel, and a later start does nothing.
    auto unstarted = OrreryHttpAsyncTask::sendMethod("GET", NSURL::URLWithString(server.url("/quick")), std::nullopt,
                                                     Value(), delegate, false);
    unstarted->cancelTask();
    unstarted->start();
    waitForOutcomes(2);
    EXPECT_EQ(delegate->outcomes()[1].kind, "cancel");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(OrreryHttpAsyncTaskTest, RacingCancelsStillGiveExactlyOneOutcomeEach) {
    server.route("GET", "/race", Answer::ok("x"));
    constexpr int kTasks = 24;
    std::vector<Ref<OrreryHttpAsyncTask>> tasks;
    for (int i = 0; i < kTasks; ++i) tasks.push_back(send("GET", "/race"));
    // Cancel from another thread while answers arrive.
    dispatch_queue_t canceller = dispatch_queue_create("test.canceller", DISPATCH_QUEUE_CONCURRENT);
    for (int i = 0; i < kTasks; i += 2)
        dispatch_async(canceller, [task = tasks[static_cast<size_t>(i)]] { task->cancelTask(); });
    waitForOutcomes(kTasks);

    auto outcomes = delegate->outcomes();
    ASSERT_EQ(outcomes.size(), static_cast<size_t>(kTasks));
    for (const auto& task : tasks) {
        int reports = 0;
        for (const auto& outcome : outcomes) reports += outcome.task == task ? 1 : 0;
        EXPECT_EQ(reports, 1);
    }
}

}  // namespace
