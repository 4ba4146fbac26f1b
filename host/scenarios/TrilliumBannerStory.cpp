#include "host/scenarios/TrilliumBannerStory.h"

#include <algorithm>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRADelegateProtocol.h"
#include "Trillium/display/TRABannerView.h"
#include "Trillium/display/TRAInAppBrowserViewController.h"
#include "Trillium/display/TRATrilliumNativeAd.h"
#include "host/TrafficRecorder.h"
#include "host/scenarios/Scenarios.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIWindow.h"
#include "simulator/TrilliumBannerAds.h"
#include "simulator/TrilliumClickChains.h"
#include "simulator/TrilliumService.h"

namespace {

// Application seconds of each step.
constexpr double kBannerStoryLook = 5;
constexpr double kBannerStoryRefreshes = 61;  // two refreshes at the default 30 s
constexpr double kBannerStoryReadTheLanding = 5;
constexpr double kBannerStoryTurned = 31;     // one refresh in landscape
constexpr double kBannerStoryNativeLoad = 3;
constexpr const char* kBannerStoryNativeTag = "scan_results";

std::string bannerStoryError(const Ref<NSError>& error) {
    return error ? error->localizedDescription() : std::string("(null)");
}

// The application's banner delegate: every callback on the timeline.
class TrilliumBannerStoryListener : public NSObject, public TRABannerDelegateProtocol {
public:
    explicit TrilliumBannerStoryListener(Timeline& timeline) : timeline_(timeline) {}
    void didDisplayBannerAd(const Ref<TRABannerView>&) override { hear("didDisplayBannerAd:"); }
    void failedLoadBannerAd(const Ref<TRABannerView>&, const Ref<NSError>& error) override {
        hear("failedLoadBannerAd:withError: " + bannerStoryError(error));
    }
    void didClickBannerAd(const Ref<TRABannerView>&) override { hear("didClickBannerAd:"); }
    void didCloseBannerInAppStore(const Ref<TRABannerView>&) override { hear("didCloseBannerInAppStore:"); }
    PLATFORM_RESPONDS_TO("didDisplayBannerAd:", "failedLoadBannerAd:withError:", "didClickBannerAd:",
                         "didCloseBannerInAppStore:")

private:
    void hear(const std::string& what) { timeline_.add("delegate", "Trillium banner: " + what); }
    Timeline& timeline_;
};

// The application's native ad delegate.
class TrilliumNativeStoryListener : public NSObject, public TRADelegateProtocol {
public:
    explicit TrilliumNativeStoryListener(Timeline& timeline) : timeline_(timeline) {}
    void didLoadAd(const Ref<TRAAbstractAd>&) override { hear("didLoadAd:"); }
    void failedLoadAd(const Ref<TRAAbstractAd>&, const Ref<NSError>& error) override {
        hear("failedLoadAd:withError: " + bannerStoryError(error));
    }
    void failedShowAd(const Ref<TRAAbstractAd>&, const Ref<NSError>& error) override {
        hear("failedShowAd:withError: " + bannerStoryError(error));
    }
    void didCloseInAppStore(const Ref<TRAAbstractAd>&) override { hear("didCloseInAppStore:"); }
    PLATFORM_RESPONDS_TO("didLoadAd:", "failedLoadAd:withError:", "failedShowAd:withError:", "didCloseInAppStore:")

    size_t heard = 0;

private:
    void hear(const std::string& what) {
        ++heard;
        timeline_.add("delegate", "Trillium native ad: " + what);
    }
    Timeline& timeline_;
};

Ref<TRAInAppBrowserViewController> bannerStoryBrowser() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    auto top = TRAAdSDKUtils::topViewControllerWithRootViewController(window ? window->rootViewController() : nullptr);
    return std::dynamic_pointer_cast<TRAInAppBrowserViewController>(top);
}

// The user reads the page the in-app browser shows, then closes it.
bool bannerStoryCloseBrowser(ScenarioContext& context) {
    auto browser = bannerStoryBrowser();
    if (!browser) {
        context.timeline().add("host", "the in-app browser did not open");
        return true;
    }
    context.timeline().add("host", "the in-app browser shows " + platform::urlForLog(browser->webViewURL()));
    if (!context.stay(kBannerStoryReadTheLanding)) return false;
    context.timeline().add("host", "the user closes the in-app browser");
    UIApplication::sharedApplication()->keyWindow()->simulateTap(browser->closeButton());
    return context.stay(1);
}

void scriptBannerStoryService(ScenarioContext& context) {
    simulator::TrilliumService* service = context.embeddedTrillium();
    if (!service) {
        context.timeline().add("host", "Trillium service given by URL: its own banners and native ads are used");
        return;
    }
    simulator::TrilliumClickChains(service->server()).install();
    simulator::TrilliumBannerAds(*service).install();
    context.recorder().overrideLabeler("trillium", [](const std::string&, const std::string& target) {
        auto placement = [&](const char* name) { return target.find(std::string("placement=") + name) != std::string::npos; };
        if (target.rfind(simulator::TrilliumService::kHtmlAdPath, 0) == 0 && placement("INAPP_BANNER"))
            return std::string("banner ad");
        if (target.rfind(simulator::TrilliumService::kJsonAdsPath, 0) == 0 && placement("INAPP_NATIVE"))
            return std::string("native ads");
        if (target.rfind(simulator::TrilliumBannerAds::kImageFolder, 0) == 0) return std::string("native ad image");
        if (target.rfind("/landing/", 0) == 0) return std::string("landing page");
        return std::string();
    });
}

bool playBannerStoryBanner(ScenarioContext& context, const Ref<UIView>& root) {
    Timeline& timeline = context.timeline();
    auto listener = std::make_shared<TrilliumBannerStoryListener>(timeline);
    timeline.add("app", "TRABannerView initWithSize: 320x50 autoOrigin: bottom, over the root screen");
    auto banner = TRABannerView::alloc()->initWithSize(TRA_PortraitAdSize_320x50, TRAAdOrigin_Bottom, root, listener);
    if (!banner) return true;
    root->addSubview(banner);
    if (!context.stay(kBannerStoryLook)) return false;
    if (banner->superview() && !banner->isHidden()) snapshotScenarioWindow(context, root->window(), "trillium-banner.png");
    else timeline.add("host", "the banner is not showing; no snapshot");
    timeline.add("host", "the banner stays up while it refreshes");
    if (!context.stay(kBannerStoryRefreshes)) return false;

    timeline.add("host", "the user taps the banner");
    if (!banner->webView()->simulateLinkClick("ad0")) timeline.add("host", "the banner page has no link to tap");
    if (!context.stay(1) || !bannerStoryCloseBrowser(context)) return false;

    timeline.add("host", "the user turns the device to landscape");
    UIApplication::sharedApplication()->simulateStatusBarOrientation(UIInterfaceOrientationLandscapeRight);
    if (!context.stay(kBannerStoryTurned)) return false;
    timeline.add("app", "the banner leaves the screen");
    banner->removeFromSuperview();
    return true;
}

// The application's list of native records over `root`: per record its
// icon, title, rating with its call to action, and its picture.
void showBannerStoryNativeList(const Ref<UIView>& root, const std::vector<Ref<TRANativeAdDetails>>& records) {
    auto list = UIView::alloc()->initWithFrame(root->bounds());
    list->setBackgroundColor(UIColor::colorWithRed(0.95f, 0.95f, 0.97f, 1));
    auto label = [&](const std::string& text, CGRect frame, Ref<UIFont> font, Ref<UIColor> colour) {
        addTrilliumStoryLabel(list, text, frame, std::move(font), std::move(colour));
    };
    auto picture = [&](const Ref<UIImage>& image, CGRect frame) {
        auto view = UIImageView::alloc();
        view->initWithFrame(frame);
        view->setContentMode(UIViewContentModeScaleAspectFit);
        view->setBackgroundColor(UIColor::colorWithWhite(0.85f, 1));
        view->setImage(image);
        list->addSubview(view);
    };
    // One card per record: a column each in landscape, one under another in portrait.
    CGSize size = root->bounds().size;
    size_t columns = size.width > size.height ? records.size() : 1;
    CGFloat cardWidth = (size.width - 16 * static_cast<CGFloat>(columns + 1)) / static_cast<CGFloat>(columns);
    CGFloat pictureHeight = std::min<CGFloat>(cardWidth * 180 / 340, 96);
    label("Scan results", CGRectMake(16, 24, size.width - 32, 28), UIFont::boldSystemFontOfSize(22), UIColor::blackColor());
    for (size_t i = 0; i < records.size(); ++i) {
        const auto& record = records[i];
        CGFloat x = 16 + static_cast<CGFloat>(i % columns) * (cardWidth + 16);
        CGFloat y = 64 + static_cast<CGFloat>(i / columns) * (80 + pictureHeight + 16);
        picture(record->imageBitmap(), CGRectMake(x, y, 48, 48));
        label(record->rating() ? NSString::stringWithFormat("Rating %.1f", *record->rating()) : "Not rated",
              CGRectMake(x + 56, y + 6, cardWidth - 56, 16), UIFont::systemFontOfSize(13), UIColor::darkGrayColor());
        label(record->clickToInstall(), CGRectMake(x + 56, y + 26, cardWidth - 56, 16), UIFont::boldSystemFontOfSize(13),
              UIColor::colorWithRed(0.16f, 0.45f, 0.85f, 1));
        label(record->title().value_or(""), CGRectMake(x, y + 54, cardWidth, 20), UIFont::boldSystemFontOfSize(15),
              UIColor::blackColor());
        picture(record->secondaryImageBitmap(), CGRectMake(x, y + 80, cardWidth, pictureHeight));
    }
    root->addSubview(list);
}

bool playBannerStoryNative(ScenarioContext& context) {
    Timeline& timeline = context.timeline();
    auto listener = std::make_shared<TrilliumNativeStoryListener>(timeline);
    auto preferences = TRANativeAdPreferences::alloc()->init();
    preferences->setAdsNumber(3);
    preferences->setBitmapSize(1);
    auto native = TRATrilliumNativeAd::alloc()->init();
    timeline.add("app", "TRATrilliumNativeAd loadAdWithDelegate:withNativeAdPreferences: 3 ads, images of 100 points");
    native->loadAdWithDelegate(listener, preferences);
    if (!context.stay(kBannerStoryNativeLoad)) return false;
    if (!context.waitUntil([&] { return listener->heard > 0; }, 30)) return !context.quitRequested();
    if (!native->isReady()) return true;
    timeline.add("app", std::string("TRATrilliumNativeAd setAdTag: ") + kBannerStoryNativeTag);
    native->setAdTag(std::string(kBannerStoryNativeTag));

    auto records = native->adsDetails();
    for (const auto& record : records) {
        auto image = [](const Ref<UIImage>& picture) {
            return picture ? NSString::stringWithFormat("%gx%g", picture->size().width, picture->size().height)
                           : std::string("none");
        };
        timeline.add("app", NSString::stringWithFormat("native record %@: \"%@\", rating %@, %@; images %@ and %@",
                                                       record->adId(), record->title(),
                                                       record->rating() ? NSString::stringWithFormat("%g", *record->rating())
                                                                        : std::string("none"),
                                                       record->clickToInstall(), image(record->imageBitmap()),
                                                       image(record->secondaryImageBitmap())));
    }
    if (records.empty()) return true;
    auto window = UIApplication::sharedApplication()->keyWindow();
    auto root = window ? window->rootViewController() : nullptr;
    if (!root) return true;
    timeline.add("app", "the native records are laid out on the root screen");
    showBannerStoryNativeList(root->view(), records);
    snapshotScenarioWindow(context, window, "trillium-native.png");
    timeline.add("app", "the first native record is shown: sendImpression");
    records[0]->sendImpression();
    if (!context.stay(2)) return false;
    timeline.add("host", "the user taps the native record: sendClick");
    records[0]->sendClick();
    if (!context.stay(1)) return false;
    return bannerStoryCloseBrowser(context);
}

}  // namespace

Ref<UILabel> addTrilliumStoryLabel(const Ref<UIView>& parent, const std::string& text, CGRect frame,
                                   Ref<UIFont> font, Ref<UIColor> colour) {
    auto line = UILabel::alloc();
    line->initWithFrame(frame);
    line->setText(text);
    line->setFont(std::move(font));
    line->setTextColor(std::move(colour));
    parent->addSubview(line);
    return line;
}

bool playTrilliumBannerAndNativeAds(ScenarioContext& context) {
    auto window = UIApplication::sharedApplication()->keyWindow();
    auto rootController = window ? window->rootViewController() : nullptr;
    if (!rootController) {
        context.timeline().add("host", "Trillium banner: skipped: the application shows no root screen");
        return true;
    }
    scriptBannerStoryService(context);
    if (!playBannerStoryBanner(context, rootController->view())) return false;
    return playBannerStoryNative(context);
}
