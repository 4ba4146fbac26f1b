// The recording proxy on its own, between a client on a test thread and
// loopback services: it ends a forward a dripping service holds open when it
// stops, refuses an answer over its cap before buffering it, records a
// redirect's hop to another origin, and rewrites origins only in text.
#include <thread>

#include "host/TrafficRecorder.h"
#include "platform/net/NSURLConnection.h"
#include "platform/testing/PlatformTest.h"

namespace {

using simulator::Answer;
using simulator::LoopbackServer;

class TrafficRecorderTest : public platform::testing::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        ASSERT_TRUE(service.start());
    }
    void TearDown() override {
        recorder.stop();
        service.stop();
        PlatformTest::TearDown();
    }

    struct Fetched {
        int status = 0;
        std::string body;
        Ref<NSError> error;
    };
    // A GET through the proxy, from a thread of its own (the proxy answers
    // on threads of its own; the main thread stays free).
    static Fetched fetch(const std::string& url) {
        Fetched fetched;
        std::thread([&] {
            auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(url));
            request->setTimeoutInterval(30);
            Ref<NSURLResponse> response;
            auto data = NSURLConnection::sendSynchronousRequest(request, &response, &fetched.error);
            if (auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response))
                fetched.status = static_cast<int>(http->statusCode());
            if (data) fetched.body = data->toString();
        }).join();
        return fetched;
    }

    Timeline timeline{false};
    TrafficRecorder recorder{timeline};
    LoopbackServer service;
};

}  // namespace

TEST_F(TrafficRecorderTest, StopEndsAForwardThatADrippingServiceHoldsOpen) {
    // A byte every 0.2 s: never idle long enough for an idle time-out.
    service.route("GET", "/drip", Answer::slowBody(std::string(1000, 'd'), 1, 0.2));
    auto url = recorder.addService("drip", service.url("/"));
    ASSERT_TRUE(url);
    Fetched fetched;
    std::thread client([&] { fetched = fetch(*url + "drip"); });
    ASSERT_TRUE(service.waitForRequests(1, 5));
    recorder.stop();  // returns at once: the forward is ended, not waited for
    client.join();
    EXPECT_TRUE(fetched.error);
    auto exchanges = recorder.exchanges();
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_EQ(exchanges[0].status, 0);
    EXPECT_EQ(exchanges[0].error, "the recorder stopped before the service answered");
}

TEST_F(TrafficRecorderTest, AnAnswerOverTheCapFailsBeforeItIsBufferedAndTheClientIsDropped) {
    service.route("GET", "/huge",
                  Answer::ok("x").header("Content-Length", std::to_string(TrafficRecorder::kMaximumAnswerBytes + 1)));
    service.route("GET", "/unframed", Answer::ok(std::string(TrafficRecorder::kMaximumAnswerBytes + 1, 'u')).unframed());
    auto url = recorder.addService("big", service.url("/"));
    ASSERT_TRUE(url);
    expectLogLine("over the cap of");
    for (const char* path : {"huge", "unframed"}) {
        Fetched fetched = fetch(*url + path);
        EXPECT_TRUE(fetched.error) << path;
        EXPECT_EQ(fetched.status, 0) << path;
    }
    auto exchanges = recorder.exchanges();
    ASSERT_EQ(exchanges.size(), 2u);
    for (const auto& e : exchanges) {
        EXPECT_EQ(e.status, 0);
        EXPECT_EQ(e.error, "The resource exceeds the maximum size.");
        EXPECT_TRUE(e.responseBody.empty());
    }
}

TEST_F(TrafficRecorderTest, ARedirectToAnotherOriginIsRecordedLikeAnyOtherRequest) {
    LoopbackServer elsewhere;
    ASSERT_TRUE(elsewhere.start());
    elsewhere.route("GET", "/landing", Answer::ok("landed"));
    service.route("GET", "/click", Answer::redirect(elsewhere.url("/landing?from=ad")));
    auto url = recorder.addService("ads", service.url("/"));
    ASSERT_TRUE(url);
    Fetched fetched = fetch(*url + "click");
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.body, "landed");
    auto exchanges = recorder.exchanges();
    ASSERT_EQ(exchanges.size(), 2u);
    EXPECT_EQ(exchanges[0].status, 302);
    EXPECT_EQ(exchanges[1].service, "redirect");
    EXPECT_EQ(exchanges[1].url, elsewhere.url("/landing?from=ad"));
    EXPECT_EQ(exchanges[1].status, 200);
    ASSERT_EQ(elsewhere.requestCount(), 1u);
    elsewhere.stop();
}

TEST_F(TrafficRecorderTest, OriginsAreReplacedInTextAnswersOnlyAndTheRecordKeepsWhatTheServiceSent) {
    std::string origin = service.url("");
    std::string escaped = "http:\\/\\/" + origin.substr(7);
    std::string json = "{\"host\": \"" + origin + "/1.3/\", \"escaped\": \"" + escaped + "/x\", \"port\": \"" + origin +
                       "0\"}";
    std::string binary = std::string("\x02\x00", 2) + origin + "/pcr.do";
    service.route("GET", "/text", Answer::ok(json).header("Content-Type", "application/json"));
    service.route("GET", "/binary", Answer::ok(binary).header("Content-Type", "avro/binary"));
    auto url = recorder.addService("svc", service.url("/"));
    ASSERT_TRUE(url);
    std::string proxy = url->substr(0, url->size() - 1);
    std::string proxyEscaped = "http:\\/\\/" + proxy.substr(7);

    Fetched text = fetch(*url + "text");
    // A longer port that starts alike is another origin and stays.
    EXPECT_EQ(text.body, "{\"host\": \"" + proxy + "/1.3/\", \"escaped\": \"" + proxyEscaped + "/x\", \"port\": \"" +
                             origin + "0\"}");
    EXPECT_EQ(fetch(*url + "binary").body, binary);
    auto exchanges = recorder.exchanges();
    ASSERT_EQ(exchanges.size(), 2u);
    EXPECT_EQ(exchanges[0].responseBody, json);
}
