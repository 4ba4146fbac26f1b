// The host program's default scenario end to end, as `./run demo` plays it:
// launch, foreground with the Relay story, a long background stay, return and
// quit on the virtual clock, against the embedded simulators or services
// given by URL; the assertions read what the run wrote: the recorded traffic,
// the timeline and the sandbox's copy. Runs that must be separate processes
// (a reused home, signals) are in HostProcessTest.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "host/RunLock.h"
#include "host/ScenarioRunner.h"
#include "host/tests/HostTestSupport.h"
#include "platform/foundation/PropertyList.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/HangGuard.h"
#include "simulator/PartnerService.h"
#include "simulator/RelayService.h"

namespace fs = std::filesystem;

namespace {

using simulator::Answer;
using simulator::TrilliumService;

const char* const kHostScenarioPreferences = "/Library/Preferences/com.paranormal.detector.plist";

class HostScenarioTest : public HostTest {
protected:
    void runScenario() {
        ScenarioRunner runner(options);
        ASSERT_EQ(runner.run(), 0) << runner.error();
        readOutput(options.outDir);
    }
};

}  // namespace

TEST_F(HostScenarioTest, DemoScenarioAgainstTheEmbeddedSimulator) {
    options.trilliumAppId = "app-e2e";
    options.trilliumDevId = "dev-e2e";
    options.tamarindKey = "tm-e2e";
    options.reachabilityHost = "localhost";
    runScenario();

    // Trillium at launch: the configuration (a new session), the preloaded
    // ad, the first-launch report with the other-clients report (the Halcyon
    // client is linked); after 600 s away: a new session. Nothing else: the
    // return ad is off.
    auto trillium = of("trillium");
    ASSERT_EQ(trillium.size(), 5u);
    auto others = of("trillium", "/tracking/infoEvent");
    ASSERT_EQ(others.size(), 1u);
    EXPECT_EQ(others[0].field("category"), "7");
    EXPECT_EQ(others[0].field("details"), "HL");
    EXPECT_TRUE(of("halcyon").empty());
    auto config = of("trillium", "/1.3/getadsmetadata");
    ASSERT_EQ(config.size(), 2u);
    EXPECT_EQ(config[0].field("sessionReason"), "LAUNCH");
    EXPECT_EQ(config[1].field("sessionReason"), "APP_IDLE");
    EXPECT_GE(config[1].entry["sentAt"].doubleValue(), 630.0);
    EXPECT_NE(config[0].field("clientSessionId"), config[1].field("clientSessionId"));

    auto report = of("trillium", "/1.3/trackdownload");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].field("placement"), "INAPP_DOWNLOAD");
    EXPECT_EQ(report[0].field("productId"), "app-e2e");
    EXPECT_EQ(report[0].field("publisherId"), "dev-e2e");
    EXPECT_EQ(report[0].status(), 200);

    auto ads = of("trillium", "/1.3/gethtmlad");
    ASSERT_EQ(ads.size(), 1u);
    EXPECT_EQ(ads[0].field("placement"), "INAPP_OVERLAY");
    EXPECT_EQ(ads[0].entry["purpose"].stringValue(), "the launch preload (full-screen ad, INAPP_OVERLAY)");
    EXPECT_EQ(report[0].entry["purpose"].stringValue(), "first-launch report");

    // Relay through the same recorder: the configuration (again at the
    // return's new session), the partner failing once and retried 90 s
    // later, the callback report.
    ASSERT_EQ(of("relay", "/sdk/v1/config").size(), 2u);
    auto partner = of("partner", "/cb");
    ASSERT_EQ(partner.size(), 2u);
    EXPECT_EQ(partner[0].status(), 500);
    EXPECT_EQ(partner[1].status(), 200);
    EXPECT_GE(partner[1].entry["sentAt"].doubleValue() - partner[0].entry["sentAt"].doubleValue(), 90.0);
    ASSERT_EQ(of("relay", "/pcr.do").size(), 1u);

    // Each exchange: headers, and the bodies as raw files.
    for (const auto& e : exchanges) {
        EXPECT_TRUE(e.entry["requestHeaders"].isArray());
        EXPECT_TRUE(fs::exists(options.outDir + "/traffic/" + e.entry["requestBody"].stringValue()));
    }
    std::string page = readFile(options.outDir + "/traffic/" + ads[0].entry["responseBody"].stringValue());
    EXPECT_NE(page.find("@adInfoJson@"), std::string::npos);

    // The timeline: the application's start-up in its order, what each
    // request is for, why nothing shows on return, then the quit.
    long at = 0;
    for (const char* step :
         {"TRATrilliumSDK sharedInstance", "TRATrilliumSDK setAppID: app-e2e", "TRATrilliumSDK setDevID: dev-e2e",
          "TRATrilliumSDK disableReturnAd", "SCNetworkReachabilityCreateWithName: localhost", "Orrery startSession:",
          "TamarindAdRegistration setApplicationId: tm-e2e", "UIApplicationDidFinishLaunchingNotification",
          "trillium the launch preload (full-screen ad, INAPP_OVERLAY): GET /1.3/gethtmlad?publisherId=dev-e2e",
          "callback report posted to", "UIApplicationDidEnterBackgroundNotification",
          "UIApplicationWillEnterForegroundNotification",
          "trillium configuration (session reason APP_IDLE): GET /1.3/getadsmetadata?",
          "UIApplicationWillTerminateNotification"}) {
        long found = lineWith(step, at);
        EXPECT_GE(found, at) << "missing or out of order: " << step;
        if (found >= 0) at = found;
    }
    EXPECT_GE(lineWith("trillium first-launch report: GET /1.3/trackdownload?"), 0);
    // The Relay requests and steps: what each is for, without the word their kind says.
    EXPECT_GE(lineWith("relay configuration: POST /sdk/v1/config"), 0);
    EXPECT_GE(lineWith("partner callback: GET /cb?event=sighting_logged"), 0);
    EXPECT_EQ(lineWith("partner partner"), -1);
    EXPECT_EQ(lineWith("Relay: "), -1);
    // No client logs a line in this story, and the timeline says so.
    EXPECT_TRUE(clientLog.empty());
    EXPECT_GE(lineWith("client-log.txt is empty: no client logged a line"), 0);
    EXPECT_GE(lineWith("reachability host localhost (reachable)"), 0);
    // Only the services the scenario uses are started.
    EXPECT_GE(lineWith("partner service: "), 0);
    EXPECT_EQ(lineWith("halcyon service: "), -1);
    EXPECT_EQ(lineWith("tamarind service: "), -1);
    // Said at the return; the new session's request, sent from the client's own thread at that
    // same moment, may come before or after it.
    long back = lineWith("UIApplicationWillEnterForegroundNotification");
    EXPECT_GT(lineWith("no return ad shows: the application switched it off", back), back);
    // URLs are whole, or their start; a request says one byte count, its body's.
    for (const std::string& line : timeline) {
        if (line.find("net >") == std::string::npos) continue;
        const size_t count = line.find(" bytes)");
        EXPECT_EQ(line.find(" bytes)", count == std::string::npos ? count : count + 1), std::string::npos) << line;
    }

    // The sandbox's copy: what the clients kept.
    auto defaults = platform::PropertyList::valueWithContentsOfFile(options.outDir + "/sandbox" + kHostScenarioPreferences);
    ASSERT_TRUE(defaults && defaults->isDictionary());
    EXPECT_TRUE((*defaults)["TRAFirstOpenDate"].isString());
    EXPECT_TRUE((*defaults)["TRALastBackgroundTime"].isDate());
    EXPECT_EQ((*defaults)["TamarindAd:ApplicationIdKey"].stringValue(), "tm-e2e");
}

TEST_F(HostScenarioTest, TrilliumUrlGivenHoldsForTheWholeRun) {
    // A service elsewhere whose configuration does not name an ad platform
    // host: the client stays on the given URL, the return's configuration
    // included. Its first-launch report is held until half a second has
    // passed on the virtual clock, which the real time the host waits for an
    // answer moves on; then it answers.
    TrilliumService external;
    ASSERT_TRUE(external.start());
    external.setConfig("{\"ttl\": 3600}");
    external.setAnswer(TrilliumService::kFirstLaunchPath, Answer::stall(Answer::withStatus(503)));
    options.trilliumUrl = external.baseUrl();
    std::thread releaser([&] {
        if (external.server().waitForStalled(1, 10)) {
            const double heldAt = Clock::current()->uptime();
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(platform::testing::hangGuard(5));
            while (Clock::current()->uptime() < heldAt + 0.5 && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        external.server().releaseStalled();
    });
    runScenario();
    releaser.join();

    auto trillium = of("trillium");
    EXPECT_EQ(external.requests().size(), trillium.size());
    auto config = of("trillium", "/1.3/getadsmetadata");
    ASSERT_EQ(config.size(), 2u);
    EXPECT_EQ(config[1].field("sessionReason"), "APP_IDLE");
    auto report = of("trillium", "/1.3/trackdownload");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].status(), 503);
    EXPECT_GE(report[0].entry["answeredAt"].doubleValue() - report[0].entry["sentAt"].doubleValue(), 0.5);
    // Analytics go to the ad platform's origin.
    for (const auto& e : trillium) EXPECT_EQ(e.serviceUrl().rfind(external.server().url("/"), 0), 0u) << e.serviceUrl();
    external.stop();
}

TEST_F(HostScenarioTest, UnreachableServiceIsRecordedAsUnanswered) {
    // A port nothing listens on: every request fails at the transport level,
    // so the first-launch report is not taken as delivered. The port stays
    // bound without listening, so that no other process can take it meanwhile.
    int closed = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(closed, 0);
    struct CloseAtEnd {
        int fd;
        ~CloseAtEnd() { ::close(fd); }
    } closeAtEnd{closed};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length), 0);
    options.trilliumUrl = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/1.3/";
    options.homeDir = root + "/home";
    options.reachabilityHost = "no-such-host.invalid";
    runScenario();
    EXPECT_GE(lineWith("reachability host no-such-host.invalid (not reachable: the name does not resolve)"), 0);
    ASSERT_FALSE(of("trillium").empty());
    for (const auto& e : of("trillium")) {
        EXPECT_TRUE(e.entry["status"].isNull());
        EXPECT_FALSE(e.entry["error"].stringValue().empty());
    }
    auto defaults = platform::PropertyList::valueWithContentsOfFile(root + "/home" + kHostScenarioPreferences);
    ASSERT_TRUE(defaults && defaults->isDictionary());
    EXPECT_TRUE((*defaults)["TRAFirstOpenDate"].isNull());
    EXPECT_TRUE(fs::exists(options.outDir + "/sandbox" + kHostScenarioPreferences));
}

TEST_F(HostScenarioTest, PartnerGivenByUrlIsNamedByTheEmbeddedConfigurationAndRecorded) {
    simulator::PartnerService external;
    ASSERT_TRUE(external.start());
    external.script("/cb", {Answer::withStatus(500), Answer::ok()});
    options.partnerUrl = external.url("/");  // a trailing "/" too
    runScenario();
    EXPECT_EQ(external.callbacks("/cb").size(), 2u);
    auto partner = of("partner", "/cb");
    ASSERT_EQ(partner.size(), 2u);
    EXPECT_EQ(partner[0].serviceUrl().rfind(external.url("/cb"), 0), 0u);
    EXPECT_EQ(of("relay", "/pcr.do").size(), 1u);
}

TEST_F(HostScenarioTest, RelayConfigurationGivenByUrlIsRecordedAndItsPartnerNamedPlainly) {
    // Its configuration names a partner the host does not stand in front of.
    simulator::RelayService external;
    simulator::PartnerService partner;
    ASSERT_TRUE(external.start());
    ASSERT_TRUE(partner.start());
    simulator::RelayConfigCallback callback;
    callback.partner = "elsewhere";
    callback.events = {std::string("sighting_logged")};
    callback.uriTemplate = partner.url("/cb") + "?e=%{event_name}";
    callback.callbackId = 9;
    simulator::RelayConfig config;
    config.callbacks = {callback};
    external.setConfig(config);
    options.relayUrl = external.configUrl();
    runScenario();

    ASSERT_FALSE(external.configRequests().empty());
    ASSERT_FALSE(of("relay", "/sdk/v1/config").empty());
    EXPECT_EQ(of("relay", "/sdk/v1/config")[0].serviceUrl(), external.configUrl());
    EXPECT_TRUE(of("partner").empty());
    EXPECT_FALSE(partner.callbacks("/cb").empty());
    EXPECT_GE(lineWith("no partner call passed the host"), 0);
}

TEST_F(HostScenarioTest, AForeignOutputFolderIsRefusedBeforeAnythingRuns) {
    fs::create_directories(options.outDir + "/sandbox");
    std::ofstream(options.outDir + "/sandbox/notes.txt") << "mine";
    ScenarioRunner runner(options);
    EXPECT_EQ(runner.run(), 1);
    EXPECT_NE(runner.error().find("is not empty and holds no earlier output"), std::string::npos) << runner.error();
    EXPECT_EQ(readFile(options.outDir + "/sandbox/notes.txt"), "mine");
    EXPECT_FALSE(fs::exists(options.outDir + "/timeline.txt"));

    options.outDir = root + "/fresh";
    options.homeDir = root + "/fresh/home";
    ScenarioRunner inside(options);
    EXPECT_EQ(inside.run(), 1);
    EXPECT_NE(inside.error().find("lies inside the output folder"), std::string::npos) << inside.error();
    EXPECT_FALSE(fs::exists(root + "/fresh/home"));
}

TEST_F(HostScenarioTest, ARunOnAHomeOrOutputAnotherRunHoldsIsRefusedAtOnce) {
    options.homeDir = root + "/home";
    for (const std::string& folder : {options.outDir, options.homeDir}) {
        std::string refusal;
        auto held = RunLock::acquire(folder, "another run's folder", refusal);
        ASSERT_TRUE(held) << refusal;
        ScenarioRunner runner(options);
        EXPECT_EQ(runner.run(), 1);
        EXPECT_NE(runner.error().find("the " + std::string(folder == options.outDir ? "output" : "home") + " folder " +
                                      folder + " is in use by another run of the host program (process " +
                                      std::to_string(::getpid()) + ")"),
                  std::string::npos)
            << runner.error();
        EXPECT_FALSE(fs::exists(options.outDir + "/timeline.txt"));
    }
}
