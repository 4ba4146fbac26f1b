#include "host/scenarios/TrilliumVideoStory.h"

#include <map>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRADelegateProtocol.h"
#include "Trillium/TRATrilliumAd.h"
#include "Trillium/display/TRAAdVideoViewController.h"
#include "host/TrafficRecorder.h"
#include "host/scenarios/Scenarios.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIWindow.h"
#include "simulator/TrilliumService.h"
#include "simulator/TrilliumVideoAds.h"

namespace {

constexpr const char* kVideoStoryFile = "demo-clip.mp4";
constexpr double kVideoStorySeconds = 30;

// "http://host:port" of a URL.
std::string videoStoryOrigin(const std::string& url) {
    size_t scheme = url.find("://");
    return scheme == std::string::npos ? url : url.substr(0, url.find('/', scheme + 3));
}

// The publisher's side: every callback on the timeline.
class TrilliumVideoStoryPublisher : public NSObject, public TRADelegateProtocol {
public:
    explicit TrilliumVideoStoryPublisher(Timeline& timeline) : timeline_(timeline) {}
    void didLoadAd(const Ref<TRAAbstractAd>&) override { hear("didLoadAd:"); }
    void failedLoadAd(const Ref<TRAAbstractAd>&, const Ref<NSError>& error) override {
        hear("failedLoadAd: " + (error ? error->localizedDescription() : std::string("(null)")));
    }
    void didShowAd(const Ref<TRAAbstractAd>&) override { hear("didShowAd:"); }
    void failedShowAd(const Ref<TRAAbstractAd>&, const Ref<NSError>& error) override {
        hear("failedShowAd: " + (error ? error->localizedDescription() : std::string("(null)")));
    }
    void didCloseAd(const Ref<TRAAbstractAd>&) override { hear("didCloseAd:"); }
    void didClickAd(const Ref<TRAAbstractAd>&) override { hear("didClickAd:"); }
    void didCompleteVideo(const Ref<TRAAbstractAd>&) override { hear("didCompleteVideo:"); }
    PLATFORM_RESPONDS_TO("didLoadAd:", "failedLoadAd:withError:", "didShowAd:", "failedShowAd:withError:",
                         "didCloseAd:", "didClickAd:", "didCompleteVideo:")

    std::vector<std::string> heard;

private:
    void hear(const std::string& what) {
        heard.push_back(what);
        timeline_.add("delegate", "Trillium video ad: " + what);
    }
    Timeline& timeline_;
};

// "progress cp=0,25,50,75,100; sound …": the service's video events by kind.
std::string videoStoryEvents(const simulator::TrilliumVideoAds& videos) {
    std::map<std::string, std::vector<std::string>> byKind;
    for (const auto& event : videos.events()) {
        auto cp = event.field("cp");
        byKind[event.field("d").value_or("?")].push_back(cp ? "cp=" + *cp : "-");
    }
    std::string text;
    for (const auto& [kind, list] : byKind) {
        text += text.empty() ? "" : "; ";
        text += kind + " " + NSString::componentsJoinedByString(list, ",");
    }
    return text.empty() ? "none" : text;
}

}  // namespace

bool playTrilliumVideoAd(ScenarioContext& context) {
    Timeline& timeline = context.timeline();
    simulator::TrilliumService* service = context.embeddedTrillium();
    const ScenarioService* trillium = context.service("trillium");
    if (!service || !trillium) {
        timeline.add("host", "Trillium video ad: skipped: it is served by the embedded Trillium service only");
        return true;
    }
    // The page's URLs name the recording proxy, so that the file and the
    // events show in the traffic too.
    simulator::TrilliumVideoAds videos(*service);
    const std::string proxy = videoStoryOrigin(trillium->clientUrl);
    videos.setPublicOrigin(proxy);
    simulator::TrilliumVideoAd settings;
    settings.file = kVideoStoryFile;
    settings.postRoll = "NONE";
    // The page draws the screen's controls over the video, which shows
    // through it: light outlined buttons, Sound on the left, Skip and Close
    // on the right (floated first, so that they share the line).
    settings.page.body =
        "<style>body{margin:0;background:transparent}.controls{padding:16px;font:bold 15px sans-serif}"
        ".controls a{display:inline-block;color:#fff;background:rgba(255,255,255,0.2);"
        "border:1px solid rgba(255,255,255,0.8);padding:6px 14px;border-radius:16px;text-decoration:none}"
        ".controls .end{float:right;margin-left:8px}</style><div class=\"controls\">"
        "<a class=\"end\" id=\"close\" href=\"trilliumad://closeAd\">Close</a>"
        "<a class=\"end\" id=\"skip\" href=\"trilliumad://skipVideo\">Skip</a>"
        "<a id=\"sound\" href=\"trilliumad://toggleSound\">Sound</a></div>";
    std::string page = NSString::stringByReplacingOccurrencesOfString(videos.videoAdPage(settings),
                                                                      videoStoryOrigin(trillium->serviceUrl), proxy);
    service->setHtmlAd(page);
    videos.serveFile(kVideoStoryFile,
                     simulator::TrilliumVideoAds::mp4File(simulator::TrilliumVideoFile::Valid, kVideoStorySeconds));
    context.recorder().overrideLabeler("trillium", [](const std::string&, const std::string& target) {
        if (target.rfind(simulator::TrilliumVideoAds::kVideoFolder, 0) == 0) return std::string("the video ad's file");
        if (target.rfind(simulator::TrilliumService::kVideoEventPath, 0) == 0) return std::string("a video event");
        if (target.rfind(simulator::TrilliumService::kHtmlAdPath, 0) == 0) return std::string("the video ad's page");
        return std::string();
    });

    auto publisher = std::make_shared<TrilliumVideoStoryPublisher>(timeline);
    auto ad = NSObject::alloc<TRATrilliumAd>()->init();
    // The full-page type: the launch's preloaded overlay ad stays for others.
    timeline.add("app", "TRATrilliumAd loadAd: full page (a video ad; its file goes to the video store)");
    ad->loadAd(TRATrilliumAd::AdTypeFullPage, publisher);
    context.settle();
    if (!context.waitUntil([&] { return !publisher->heard.empty(); }, 30)) return !context.quitRequested();
    // The default page answers the next full-screen ad again.
    service->setHtmlAd(service->htmlAdPage(simulator::TrilliumHtmlAd{}));
    if (!ad->isReady()) return true;

    timeline.add("app", "TRATrilliumAd showAd");
    ad->showAd();
    context.settle();
    if (!context.waitUntil([&] { return publisher->heard.size() > 1; }, 30)) return !context.quitRequested();
    if (publisher->heard.back() != "didShowAd:") return true;
    if (!context.stay(kVideoStorySeconds / 3)) return false;
    auto window = UIApplication::sharedApplication()->keyWindow();
    auto top = TRAAdSDKUtils::topViewControllerWithRootViewController(window ? window->rootViewController() : nullptr);
    if (std::dynamic_pointer_cast<TRAAdVideoViewController>(top)) {
        timeline.add("host", "the video ad plays: snapshot of the playing video ad");
        snapshotScenarioWindow(context, window, "trillium-video-ad.png");
    } else {
        timeline.add("host", "the video ad's screen is not up; no snapshot");
    }
    if (!context.stay(kVideoStorySeconds - kVideoStorySeconds / 3 + 1)) return false;
    context.settle();
    timeline.add("host", "Trillium video ad: the service received the video events: " + videoStoryEvents(videos));
    return true;
}
