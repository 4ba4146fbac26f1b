// The start-up scenario, the first played: the application's start-up and
// lifecycle. Launch (the Trillium entry point with the return ad off, the
// analytics session with Relay switched on, the Tamarind key), the Relay
// story in the foreground (the configuration, a matched event, a partner that
// fails once and is retried, the callback report), a stay in the background
// long enough for a new Trillium session, the return and the quit.
#include <memory>

#include "Trillium/display/TRAEventAdManager.h"
#include "host/HostAppDelegate.h"
#include "host/TrafficRecorder.h"
#include "host/relay_demo/RelayDemo.h"
#include "host/scenarios/Scenarios.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIApplication.h"
#include "simulator/RelayService.h"

namespace {

// Application seconds in each state.
constexpr double kStartupForegroundStay = 30;
constexpr double kStartupBackgroundStay = 600;  // over the 300 s after which a new Trillium session starts
constexpr double kStartupStayAfterReturn = 30;

// The Relay part's waits, through the runner: either clock, and a quit ends them.
class StartupRelayPace : public RelayDemoPace {
public:
    explicit StartupRelayPace(ScenarioContext& context) : context_(context) {}
    bool letTimePass(double seconds) override { return context_.stay(seconds); }
    bool waitUntil(const std::function<bool()>& predicate, double realSeconds) override {
        context_.settle();
        return context_.waitUntil(predicate, realSeconds);
    }

private:
    ScenarioContext& context_;
};

// The Relay services' exchanges as the recorder saw them.
std::vector<RelayDemoExchange> relayExchangesFrom(const TrafficRecorder& recorder) {
    std::vector<RelayDemoExchange> list;
    for (const TrafficExchange& e : recorder.exchanges()) {
        RelayDemoExchange::Kind kind;
        if (e.service == "partner") kind = RelayDemoExchange::Kind::Partner;
        else if (e.service != "relay") continue;
        else if (e.url.find(simulator::RelayService::kReportPath) != std::string::npos) kind = RelayDemoExchange::Kind::Report;
        else kind = RelayDemoExchange::Kind::Config;
        size_t path = e.url.find('/', e.url.find("://") + 3);
        list.push_back({kind, e.method, path == std::string::npos ? "/" : e.url.substr(path), e.status, e.requestBody,
                        e.responseBody.size(), e.error});
    }
    return list;
}

class StartupScenario : public Scenario {
public:
    void play(ScenarioContext& context) override {
        Timeline& timeline = context.timeline();
        auto app = UIApplication::sharedApplication();
        auto delegate = NSObject::alloc<HostAppDelegate>()->initWithOptions(context.options(), &timeline);
        // In this story the only full-screen ad request is the client's own
        // preload at launch.
        context.recorder().overrideLabeler("trillium", [](const std::string&, const std::string& target) {
            bool preload = target.find("/gethtmlad?") != std::string::npos &&
                           target.find("placement=INAPP_OVERLAY") != std::string::npos;
            return preload ? std::string("the launch preload (full-screen ad, INAPP_OVERLAY)") : std::string();
        });

        // Relay is switched on before the session starts (the client reads its
        // switch then).
        RelayDemo relay([&timeline](const std::string& line) { timeline.add("relay", line); });
        bool relayPrepared = prepareRelay(context, relay);

        if (NSUserDefaults::standardUserDefaults()->objectForKey(TRAEventAdManager::kFirstOpenDateKey).isString())
            timeline.add("host", "Trillium: no first-launch report: an earlier run on this home delivered it");
        timeline.add("host", "launch");
        app->simulateLaunch(delegate);
        timeline.add("host", "main run loop");
        if (!context.stay(0)) return quit(context);
        if (relayPrepared) {
            StartupRelayPace pace(context);
            relay.run(pace);
        }
        if (!context.stay(kStartupForegroundStay)) return quit(context);

        timeline.add("host", "the user leaves the application");
        app->simulateEnterBackground();
        if (!context.stay(kStartupBackgroundStay)) return quit(context);

        timeline.add("host", "the user returns");
        app->simulateEnterForeground();
        app->simulateBecomeActive();
        if (TRAEventAdManager::sharedInstance()->isReturnAdDisabled())
            timeline.add("host", "Trillium: no return ad shows: the application switched it off (disableReturnAd)");
        context.stay(kStartupStayAfterReturn);
        quit(context);
    }

private:
    static bool prepareRelay(ScenarioContext& context, RelayDemo& relay) {
        const ScenarioService* config = context.service("relay");
        const ScenarioService* partner = context.service("partner");
        if (!config) return false;
        RelayDemo::Endpoints endpoints;
        endpoints.configServer = context.embeddedRelay();
        endpoints.partner = context.embeddedPartner();
        endpoints.configUrl = config->clientUrl;
        // The report endpoint sits beside the configuration endpoint, behind the same proxy.
        std::string proxyOrigin = config->clientUrl.substr(0, config->clientUrl.find('/', config->clientUrl.find("://") + 3));
        endpoints.reportUrl = proxyOrigin + simulator::RelayService::kReportPath;
        if (partner) endpoints.partnerUrl = partner->clientUrl;
        while (!endpoints.partnerUrl.empty() && endpoints.partnerUrl.back() == '/') endpoints.partnerUrl.pop_back();
        relay.setExchangeSource([&context] { return relayExchangesFrom(context.recorder()); });
        return relay.prepare(endpoints);
    }

    static void quit(ScenarioContext& context) { quitScenarioApplication(context); }
};

}  // namespace

std::unique_ptr<Scenario> makeStartupScenario() { return std::make_unique<StartupScenario>(); }
