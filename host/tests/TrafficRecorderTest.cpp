// The recording proxy on its own, between a client on a test thread and
// loopback services: it records the URL the client sent (https and long ones
// too, the timeline showing a long one's start) and the service's, ends a forward a dripping service holds open when
// it stops, passes a binary answer on as it streams and cuts it at its cap,
// records a redirect's hop to another origin and the hosts a service names,
// rewrites origins only in text, and ends what the run left unanswered.
#include <future>
#include <thread>

#include "host/TrafficRecorder.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/net/NSURLConnection.h"
#include "platform/net/TrustedAuthorities.h"
#include "platform/runtime/HangGuard.h"
#include "platform/testing/PlatformTest.h"

namespace {

using simulator::Answer;
using simulator::LoopbackServer;

class TrafficRecorderTest : public platform::testing::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        // A service's time for its answer only guards against a hang here.
        recorder.setServiceSeconds(platform::testing::hangGuard(TrafficRecorder::kServiceSeconds));
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
    // A GET through the proxy (a POST when given a body), from a thread of
    // its own (the proxy answers on threads of its own; the main thread
    // stays free).
    static Fetched fetch(const std::string& url, const std::string& body = "") {
        Fetched fetched;
        std::thread([&] {
            auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(url));
            request->setTimeoutInterval(platform::testing::hangGuard(30));
            if (!body.empty()) {
                request->setHTTPMethod("POST");
                request->setHTTPBody(NSData::dataWithString(body));
            }
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
    EXPECT_EQ(exchanges[0].error, "the recorder stopped before the answer was complete");
    EXPECT_LT(exchanges[0].responseBody.size(), 1000u);
}

TEST_F(TrafficRecorderTest, ABinaryAnswerPassesAsItStreamsAndIsCutAtTheCap) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    service.route("GET", "/stream", Answer::streamed(200, [released](const Answer::BodyWriter& write) {
                      if (!write("first ")) return false;
                      released.wait();
                      return write("second");
                  }).header("Content-Type", "video/mp4"));
    service.route("GET", "/huge",
                  Answer::ok("x").header("Content-Length", std::to_string(TrafficRecorder::kMaximumAnswerBytes + 1)));
    service.route("GET", "/unframed", Answer::ok(std::string(TrafficRecorder::kMaximumAnswerBytes + 1, 'u')).unframed());
    auto url = recorder.addService("big", service.url("/"));
    ASSERT_TRUE(url);

    // The first piece reaches the client while the service holds the rest.
    class Collector : public NSObject, public NSURLConnectionDataDelegate {
    public:
        void connectionDidReceiveData(Ref<NSURLConnection>, const NSData& data) override { body += data.toString(); }
        void connectionDidFinishLoading(Ref<NSURLConnection>) override { finished = true; }
        void connectionDidFailWithError(Ref<NSURLConnection>, Ref<NSError>) override { finished = true; }
        std::string body;
        bool finished = false;
    };
    auto collector = std::make_shared<Collector>();
    auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(*url + "stream"));
    auto connection = NSURLConnection::connectionWithRequest(*request, collector);
    ASSERT_TRUE(driver().runUntil([&] { return !collector->body.empty(); }, 10));
    EXPECT_EQ(collector->body, "first ");
    release.set_value();
    ASSERT_TRUE(driver().runUntil([&] { return collector->finished; }, 10));
    EXPECT_EQ(collector->body, "first second");

    // Announced over the cap: refused before any of its body (its status still
    // recorded); grown over it: cut there.
    expectLogLine("over the cap of");
    for (const char* path : {"huge", "unframed"}) {
        Fetched fetched = fetch(*url + path);
        EXPECT_TRUE(fetched.error) << path;
    }
    auto exchanges = recorder.exchanges();
    ASSERT_EQ(exchanges.size(), 3u);
    EXPECT_EQ(exchanges[0].responseBody, "first second");
    EXPECT_TRUE(exchanges[0].error.empty());
    EXPECT_EQ(exchanges[1].status, 200);
    EXPECT_TRUE(exchanges[1].responseBody.empty());
    EXPECT_EQ(exchanges[1].error, "The resource exceeds the maximum size.");
    EXPECT_EQ(exchanges[2].status, 200);
    EXPECT_EQ(exchanges[2].error, "The resource exceeds the maximum size.");
    EXPECT_EQ(exchanges[2].responseBody.size(), TrafficRecorder::kMaximumAnswerBytes);
}

TEST_F(TrafficRecorderTest, TheRecordKeepsTheUrlTheClientSentOverHttpsAndAtAnyLength) {
    service.route("GET", "/reward", Answer::ok("{}").header("Content-Type", "application/json"));
    auto url = recorder.addService("rewards", service.url("/"));
    ASSERT_TRUE(url);
    auto secure = recorder.secureOriginFor("rewards");
    ASSERT_TRUE(secure);
    ASSERT_TRUE(TrustedAuthorities::addCertificatesPEM(recorder.certificateAuthorityPEM("rewards")));
    service.route("POST", "/reward", Answer::ok("{}").header("Content-Type", "application/json"));
    const std::string query = "?p=" + std::string(20000, 'q');
    EXPECT_EQ(fetch(*secure + "/reward" + query).status, 200);
    EXPECT_EQ(fetch(*url + "reward" + query).status, 200);
    EXPECT_EQ(fetch(*url + "reward" + query, "{\"n\":1}").status, 200);
    auto exchanges = recorder.exchanges();
    ASSERT_EQ(exchanges.size(), 3u);
    EXPECT_EQ(exchanges[0].url, *secure + "/reward" + query);
    EXPECT_EQ(exchanges[0].serviceUrl, service.url("/reward") + query);
    EXPECT_EQ(exchanges[1].url, *url + "reward" + query);
    ASSERT_EQ(service.requestCount(), 3u);
    EXPECT_EQ(service.requests()[0].target, "/reward" + query);
    // The timeline shows its start, and one byte count a line: the body's.
    std::vector<std::string> shown;
    for (const std::string& line : timeline.lines())
        if (size_t at = line.find("net "); at != std::string::npos) shown.push_back(line.substr(line.find('#', at)));
    const std::string start = "/reward?p=" + std::string(150, 'q') + "…";
    EXPECT_EQ(shown, (std::vector<std::string>{"#1 rewards: GET " + start, "#1 200 (2 bytes)",
                                               "#2 rewards: GET " + start, "#2 200 (2 bytes)",
                                               "#3 rewards: POST " + start + " (7 bytes)", "#3 200 (2 bytes)"}));
}

TEST_F(TrafficRecorderTest, AHostTheServiceNamesIsReachedThroughAProxyOfTheService) {
    LoopbackServer platformHost;
    ASSERT_TRUE(platformHost.start());
    platformHost.route("GET", "/1.3/getads", Answer::ok("ads"));
    const std::string named = platformHost.url("/1.3/");
    service.route("GET", "/config", Answer::ok("{\"host\": \"" + named + "\"}").header("Content-Type", "application/json"));
    auto url = recorder.addService("ads", service.url("/"), {}, [](const std::string& target, const std::string& body) {
        return target == "/config" ? std::vector<std::string>{body.substr(10, body.size() - 12)} : std::vector<std::string>{};
    });
    ASSERT_TRUE(url);
    Fetched config = fetch(*url + "config");
    ASSERT_EQ(config.body.find(platformHost.url("")), std::string::npos) << config.body;
    std::string proxied = config.body.substr(10, config.body.size() - 12);
    EXPECT_EQ(fetch(proxied + "getads").body, "ads");
    auto exchanges = recorder.exchanges();
    ASSERT_EQ(exchanges.size(), 2u);
    EXPECT_EQ(exchanges[1].service, "ads");
    EXPECT_EQ(exchanges[1].serviceUrl, named + "getads");
    platformHost.stop();
}

TEST_F(TrafficRecorderTest, WhatTheRunLeftUnansweredEndsAsSuchAndALateAnswerIsNotTaken) {
    service.route("GET", "/hold", Answer::stall(Answer::ok("late")));
    auto url = recorder.addService("slow", service.url("/"));
    ASSERT_TRUE(url);
    Fetched fetched;
    std::thread client([&] { fetched = fetch(*url + "hold"); });
    ASSERT_TRUE(service.waitForStalled(1, 5));
    recorder.endUnanswered();
    service.releaseStalled();
    client.join();
    auto exchanges = recorder.exchanges();
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_TRUE(exchanges[0].ended);
    EXPECT_EQ(exchanges[0].status, 0);
    EXPECT_EQ(exchanges[0].error, TrafficRecorder::kRunEnded);
    EXPECT_EQ(fetched.body, "late");  // the client still got it: only the record had closed

    const std::string folder = home() + "/traffic";
    ASSERT_TRUE(recorder.writeTo(folder));
    auto index = NSJSONSerialization::JSONObjectWithData(*NSData::dataWithContentsOfFile(folder + "/index.json"));
    ASSERT_TRUE(index && index->isArray());
    const Value& entry = index->array()->front();
    EXPECT_TRUE(entry["status"].isNull());
    EXPECT_EQ(entry["error"].stringValue(), TrafficRecorder::kRunEnded);
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
    EXPECT_EQ(exchanges[1].serviceUrl, elsewhere.url("/landing?from=ad"));
    EXPECT_EQ(exchanges[1].url.find(elsewhere.url("")), std::string::npos) << exchanges[1].url;
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
