// The banner as a view: initialisers, placement, the status-bar allowance,
// the origin check, rotation and table cells. Loading, refresh, reveal and
// taps are in TRABannerViewLoading.cpp.
#include "Trillium/display/TRABannerView.h"

#include <cmath>
#include <utility>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATrilliumSDK.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

namespace {

// The view tag of the next banner placed in a table cell (shared by all banners).
int64_t gTRABannerNextCellTag = TRABannerView::kFirstCellTag;

bool TRABannerAtLeast(int64_t major) { return platform::systemVersionAtLeast(major, 0); }

Ref<UIViewController> TRABannerTopController() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    return TRAAdSDKUtils::topViewControllerWithRootViewController(window ? window->rootViewController() : nullptr);
}

bool TRABannerIsDNS() { return TRAMetadata::sharedMetadata()->isDNS(); }

bool TRABannerUnityWithOneFamily() {
    if (!TRATrilliumSDK::sharedInstance()->isUnityEnvironment()) return false;
    int64_t supported = TRAAdSDKUtils::supportedOrientations();
    return supported == 0 || supported == 1;
}

CGRect TRABannerBoundsOf(const Ref<UIView>& view) { return view ? view->bounds() : CGRectZero; }

// An automatic size takes the root view's size when applied.
TRABannerSizeEnum TRABannerResolved(TRABannerSizeEnum size, const Ref<UIView>& root) {
    if (size.isAuto) size.size = TRABannerBoundsOf(root).size;
    return size;
}

// Width and height swapped; the new height (the old width) in whole points.
CGSize TRABannerSwapped(CGSize size) {
    return CGSizeMake(size.height, static_cast<CGFloat>(platform::saturatingCast<int32_t>(std::trunc(size.width))));
}

}  // namespace

// ---- creation ---------------------------------------------------------------------------------------------

Ref<UIView> TRABannerView::initWithFrame(CGRect frame) {
    UIView::initWithFrame(frame);
    ios7StatusBarFactor_ = 0;
    devHideBanner_ = viewIgnore_ = delegateWasNotified_ = false;
    if (!proxy_) proxy_ = TRABannerProxy::alloc()->init();
    proxy_->setBanner(self<TRABannerView>());
    return self<UIView>();
}

Ref<TRABannerView> TRABannerView::initWithSize(TRABannerSizeEnum size, TRAAdOrigin autoOrigin,
                                               const Ref<UIView>& view,
                                               const Ref<TRABannerDelegateProtocol>& delegate) {
    developerBannerSize_ = bannerSizeInString(size);
    developerBannerOrigin_ = bannerOriginInString(autoOrigin);
    auto sdk = TRATrilliumSDK::sharedInstance();
    return initWithIds(sdk->appID(), sdk->devID(), size, autoOrigin, view, delegate);
}

Ref<TRABannerView> TRABannerView::initWithSize(TRABannerSizeEnum size, CGPoint origin, const Ref<UIView>& view,
                                               const Ref<TRABannerDelegateProtocol>& delegate) {
    developerBannerSize_ = bannerSizeInString(size);
    developerBannerOrigin_ = std::string("TRAAdOrigin_Custom");
    auto sdk = TRATrilliumSDK::sharedInstance();
    return initWithIds(sdk->appID(), sdk->devID(), size, origin, view, delegate);
}

Ref<TRABannerView> TRABannerView::initWithSize(TRABannerSizeEnum size, TRAAdOrigin autoOrigin,
                                               const Ref<UIView>& view,
                                               const Ref<TRABannerDelegateProtocol>& delegate,
                                               const std::optional<std::string>& adTag) {
    prefAdTag_ = adTag;
    return initWithSize(size, autoOrigin, view, delegate);
}

Ref<TRABannerView> TRABannerView::initWithSize(TRABannerSizeEnum size, CGPoint origin, const Ref<UIView>& view,
                                               const Ref<TRABannerDelegateProtocol>& delegate,
                                               const std::optional<std::string>& adTag) {
    prefAdTag_ = adTag;
    return initWithSize(size, origin, view, delegate);
}

Ref<TRABannerView> TRABannerView::initWithSize(TRABannerSizeEnum size, CGPoint origin, const Ref<UIView>& view,
                                               const Ref<TRABannerDelegateProtocol>& delegate, const Value& params,
                                               bool viewIgnore) {
    extraParams_ = params;
    viewIgnore_ = viewIgnore;
    auto sdk = TRATrilliumSDK::sharedInstance();
    return initWithIds(sdk->appID(), sdk->devID(), size, origin, view, delegate);
}

Ref<TRABannerView> TRABannerView::initWithSize(TRABannerSizeEnum size, TRAAdOrigin autoOrigin,
                                               const Ref<UIView>& view,
                                               const Ref<TRABannerDelegateProtocol>& delegate, const Value& params,
                                               bool viewIgnore) {
    extraParams_ = params;
    viewIgnore_ = viewIgnore;
    auto sdk = TRATrilliumSDK::sharedInstance();
    return initWithIds(sdk->appID(), sdk->devID(), size, autoOrigin, view, delegate);
}

Ref<TRABannerView> TRABannerView::initWithIds(const std::optional<std::string>& appId,
                                              const std::optional<std::string>& publisherId, TRABannerSizeEnum size,
                                              TRAAdOrigin autoOrigin, const Ref<UIView>& view,
                                              const Ref<TRABannerDelegateProtocol>& delegate) {
    bannerPosition_ = autoOrigin;
    if (TRABannerAtLeast(7)) statusBarAllowanceHolds(view);
    return initWithIds(appId, publisherId, size, CGPointMake(0, 0), view, delegate);
}

Ref<TRABannerView> TRABannerView::initWithIds(const std::optional<std::string>&, const std::optional<std::string>&,
                                              TRABannerSizeEnum size, CGPoint origin, const Ref<UIView>& view,
                                              const Ref<TRABannerDelegateProtocol>& delegate) {
    auto sdk = TRATrilliumSDK::sharedInstance();
    return initWithIds(sdk->appID(), sdk->devID(), size, origin, view, delegate, Value());
}

Ref<TRABannerView> TRABannerView::initWithIds(const std::optional<std::string>& appId,
                                              const std::optional<std::string>&, TRABannerSizeEnum size,
                                              CGPoint origin, const Ref<UIView>& view,
                                              const Ref<TRABannerDelegateProtocol>& delegate, const Value&) {
    UIView::initWithFrame(CGRectZero);
    if (!proxy_) proxy_ = TRABannerProxy::alloc()->init();
    proxy_->setBanner(self<TRABannerView>());
    delegate_ = delegate;
    auto sdk = TRATrilliumSDK::sharedInstance();
    if (sdk->isUnityEnvironment() || sdk->isCoronaEnvironment() || sdk->isCocos2DXEnvironment()) viewIgnore_ = true;

    // Refusals are told while the banner still exists; the caller gets none.
    if (TRABannerIsDNS()) {
        reportFailure("Internal error");
        return nullptr;
    }
    if (!appId || appId->empty()) {
        TRALog::error("TrilliumBannerAd: appId is nil or empty.");
        reportFailure("Application ID is nil or empty.");
        return nullptr;
    }
    if (!sdk->isAdMobMediationEnvironment() && !viewIgnore_ && !view) {
        TRALog::error("TrilliumAd: Missing view controller params");
        reportFailure("Can not send nil as view");
        return nullptr;
    }

    NSNotificationCenter::defaultCenter()->addObserver(self<TRABannerView>(), &TRABannerView::orientationWillChange,
                                                       UIApplicationWillChangeStatusBarOrientationNotification);
    rootView_ = view;
    bannerSize_ = TRABannerResolved(size, view);
    bannerOrigin_ = origin;
    setFrame(CGRect{origin, bannerSize_.size});

    setHidden(true);
    setBackgroundColor(UIColor::clearColor());
    webView_ = std::static_pointer_cast<UIWebView>(
        UIWebView::alloc()->initWithFrame(CGRectMake(0, 0, bannerSize_.size.width, bannerSize_.size.height)));
    webView_->setBackgroundColor(UIColor::clearColor());
    webView_->setOpaque(false);
    webView_->setDelegate(proxy_);
    webView_->scrollView()->setScrollEnabled(false);
    webView_->scrollView()->setBounces(false);
    addSubview(webView_);
    setNeedsDisplay();

    isRotationLoad_ = false;
    checkNetworkState();
    return self<TRABannerView>();
}

TRABannerView::~TRABannerView() {
    if (auto timer = timer_.lock()) timer->invalidate();
    if (ad_) ad_->setAdLoadDelegate(nullptr);
    if (webView_) webView_->setDelegate(nullptr);
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(this));
    if (auto timer = showWebViewTimer_.lock()) timer->invalidate();
    if (proxy_) {
        TRAMetadata::sharedMetadata()->removeMetadataDelegation(proxy_);
        proxy_->setBanner(nullptr);
    }
}

// ---- names --------------------------------------------------------------------------------------------------

std::string TRABannerView::bannerSizeInString(TRABannerSizeEnum size) {
    static const std::pair<TRABannerSizeEnum, const char*> kTRABannerSizeNames[] = {
        {TRA_PortraitAdSize_320x50, "TRA_PortraitAdSize_320x50"},
        {TRA_LandscapeAdSize_480x50, "TRA_LandscapeAdSize_480x50"},
        {TRA_LandscapeAdSize_568x50, "TRA_LandscapeAdSize_568x50"},
        {TRA_PortraitAdSize_768x90, "TRA_PortraitAdSize_768x90"},
        {TRA_LandscapeAdSize_1024x90, "TRA_LandscapeAdSize_1024x90"},
        {TRA_AutoAdSize, "TRA_AutoAdSize"},
    };
    for (const auto& [constant, name] : kTRABannerSizeNames)
        if (isSizeEqualToSize(size, constant)) return name;
    return "";
}

std::string TRABannerView::bannerOriginInString(TRAAdOrigin origin) {
    if (origin == TRAAdOrigin_Top) return "TRAAdOrigin_Top";
    if (origin == TRAAdOrigin_Bottom) return "TRAAdOrigin_Bottom";
    return "TRAAdOrigin_Custom";
}

// ---- placement --------------------------------------------------------------------------------------------

bool TRABannerView::statusBarAllowanceHolds(const Ref<UIView>& view) {
    if (UIApplication::sharedApplication()->isStatusBarHidden() || !view) return false;
    auto top = TRABannerTopController();
    if (!top || view->frame() != top->view()->frame()) return false;
    ios7StatusBarFactor_ = 20;
    return true;
}

void TRABannerView::autoPositionBanner() {
    CGRect root = TRABannerBoundsOf(rootView());
    CGFloat adWidth = ad_ ? static_cast<CGFloat>(ad_->width()) : 0;
    CGFloat adHeight = ad_ ? static_cast<CGFloat>(ad_->height()) : 0;
    CGFloat x = bannerOrigin_.x, y = bannerOrigin_.y;
    if (bannerPosition_ == TRAAdOrigin_Top || bannerPosition_ == TRAAdOrigin_Bottom) {
        x = static_cast<CGFloat>((root.size.width - adWidth) / 2.0);
        y = 0;
        if (statusBarAllowanceHolds(rootView())) y = static_cast<CGFloat>(ios7StatusBarFactor_);
        auto top = TRABannerTopController();
        CGFloat topHeight = top ? top->view()->bounds().size.height : 0;
        // A root view shorter than the screen's controller is not under the status bar.
        if (topHeight != root.size.height) y = 0;
        if (bannerPosition_ == TRAAdOrigin_Bottom) y = root.size.height - adHeight;
    }
    CGRect frame = this->frame();
    frame.origin = CGPointMake(x, y);
    setFrame(frame);
    bannerOrigin_ = this->frame().origin;
    if (TRATrilliumSDK::sharedInstance()->isAdMobMediationEnvironment()) {
        frame.origin = CGPointMake(0, 0);
        setFrame(frame);
        bannerOrigin_ = this->frame().origin;
    }
    if (webView_) webView_->setFrame(CGRectMake(0, 0, adWidth, adHeight));
}

bool TRABannerView::validOrigin() {
    if (viewIgnore_) return true;
    if (TRATrilliumSDK::sharedInstance()->isAdMobMediationEnvironment() && !bannerSize_.isAuto) return true;
    CGRect root = TRABannerBoundsOf(rootView());
    CGRect frame = this->frame();
    CGFloat adWidth = ad_ ? static_cast<CGFloat>(ad_->width()) : 0;
    CGFloat adHeight = ad_ ? static_cast<CGFloat>(ad_->height()) : 0;
    return !(frame.origin.x < 0 || frame.origin.x + adWidth > root.size.width || frame.origin.y < 0 ||
             frame.origin.y + adHeight > root.size.height);
}

void TRABannerView::placementVisibilityStep() {
    if (loadingAd_) return;
    if (!validOrigin()) {
        setHidden(true);
        reportFailure("Origin is not valid");
    } else if (lastAdapptValue_) {
        setHidden(devHideBanner_);
    }
}

void TRABannerView::setSTAAutoOrigin(TRAAdOrigin position) {
    if (TRABannerIsDNS() || devHideBanner_) return;
    developerBannerOrigin_ = bannerOriginInString(position);
    bannerPosition_ = position;
    CGRect root = TRABannerBoundsOf(rootView());
    int32_t adWidth = ad_ ? ad_->width() : 0, adHeight = ad_ ? ad_->height() : 0;
    CGRect frame = this->frame();
    if (position == TRAAdOrigin_Bottom) frame.origin.y = root.size.height - static_cast<CGFloat>(adHeight);
    else frame.origin.y = TRABannerAtLeast(7) && statusBarAllowanceHolds(rootView()) ? ios7StatusBarFactor_ : 0;
    setFrame(frame);
    CGPoint center = this->center();
    center.x = static_cast<CGFloat>(root.size.width / 2.0);
    setCenter(center);
    bannerOrigin_ = CGPointMake(center.x - static_cast<CGFloat>(adWidth / 2), center.y - static_cast<CGFloat>(adHeight / 2));
    if (webView_) webView_->setFrame(CGRectMake(0, 0, adWidth, adHeight));
    placementVisibilityStep();
}

void TRABannerView::setSTAAutoOrigin(TRAAdOrigin position, const Value& params) {
    extraParams_ = params;
    setSTAAutoOrigin(position);
}

void TRABannerView::setOrigin(CGPoint origin) {
    if (TRABannerIsDNS() || devHideBanner_) return;
    developerBannerOrigin_ = std::string("TRAAdOrigin_Custom");
    bannerOrigin_ = origin;
    bannerPosition_ = TRAAdOrigin_Custom;
    CGRect frame = this->frame();
    frame.origin = origin;
    setFrame(frame);
    CGFloat adWidth = ad_ ? static_cast<CGFloat>(ad_->width()) : 0;
    CGFloat adHeight = ad_ ? static_cast<CGFloat>(ad_->height()) : 0;
    if (webView_) webView_->setFrame(CGRectMake(0, 0, adWidth, adHeight));
    placementVisibilityStep();
}

void TRABannerView::setOrigin(CGPoint origin, const Value& params) {
    extraParams_ = params;
    setOrigin(origin);
}

void TRABannerView::setSTABannerSize(TRABannerSizeEnum size) {
    if (TRABannerIsDNS() || devHideBanner_) return;
    releaseTimer();
    setHidden(true);
    developerBannerSize_ = bannerSizeInString(size);
    bannerSize_ = TRABannerResolved(size, rootView());
    createTimer();
    isRotationLoad_ = false;
    checkNetworkState();
}

void TRABannerView::setSTABannerSize(TRABannerSizeEnum size, const Value& params) {
    extraParams_ = params;
    setSTABannerSize(size);
}

// ---- rotation ---------------------------------------------------------------------------------------------

void TRABannerView::orientationWillChange(const NSNotification& notification) {
    if (TRABannerUnityWithOneFamily()) return;
    releaseTimer();
    setHidden(true);
    if (bannerSize_.isAuto) {
        loadingAdReturn_ = !loadingAd_;
        loadingAd_ = true;
    }
    if (!TRABannerAtLeast(8)) {
        if (TRAAdSDKUtils::TRAInAppBrowserViewControllerDisplayed() && lastAdapptValue_) setHidden(false);
        return;
    }
    // The screen still has its old bounds: wider than tall means landscape now.
    UIInterfaceOrientation next = notification.userInfo[UIApplicationStatusBarOrientationUserInfoKey].integerValue();
    CGRect screen = UIScreen::mainScreen()->bounds();
    if (screen.size.width > screen.size.height) {
        isRotateSameOrientation_ = UIInterfaceOrientationIsLandscape(next);
        didRotateFromInterfaceOrientationSDK(UIInterfaceOrientationPortrait);
    } else {
        isRotateSameOrientation_ = UIInterfaceOrientationIsPortrait(next);
        didRotateFromInterfaceOrientationSDK(UIInterfaceOrientationLandscapeLeft);
    }
}

void TRABannerView::didRotateFromInterfaceOrientation(UIInterfaceOrientation fromOrientation) {
    if (!TRABannerAtLeast(8)) didRotateFromInterfaceOrientationSDK(fromOrientation);
}

void TRABannerView::didRotateFromInterfaceOrientationSDK(UIInterfaceOrientation fromOrientation) {
    if (TRABannerUnityWithOneFamily()) return;
    if (TRABannerAtLeast(8)) isRotationLoad_ = true;
    if (TRABannerIsDNS()) return;
    createTimer();
    bool sameFamily = isRotateSameOrientation_;
    if (!TRABannerAtLeast(8)) {
        auto top = TRABannerTopController();
        UIInterfaceOrientation current = top ? top->interfaceOrientation() : UIInterfaceOrientationUnknown;
        sameFamily = (UIInterfaceOrientationIsPortrait(fromOrientation) && UIInterfaceOrientationIsPortrait(current)) ||
                     (UIInterfaceOrientationIsLandscape(fromOrientation) && UIInterfaceOrientationIsLandscape(current));
    }
    if (sameFamily) {
        if (loadingAdReturn_) {
            loadingAdReturn_ = false;
            loadingAd_ = false;
        }
        createShowWebViewTimer();
        return;
    }

    if (TRABannerAtLeast(9)) bannerSize_.size = TRABannerSwapped(bannerSize_.size);
    auto sdk = TRATrilliumSDK::sharedInstance();
    auto root = rootView();
    if (!sdk->isUnityEnvironment() && !sdk->isCocos2DXEnvironment() && TRABannerAtLeast(8) && root &&
        TRAAdSDKUtils::supportedOrientations() == 2 && TRAAdSDKUtils::TRAInAppBrowserViewControllerDisplayed()) {
        // The browser on top keeps the application's root laid out in the
        // device's family: the root is turned to match the status bar.
        UIDeviceOrientation device = UIDevice::currentDevice()->orientation();
        UIInterfaceOrientation status = UIApplication::sharedApplication()->statusBarOrientation();
        bool deviceLandscape = device == 3 || device == 4, devicePortrait = device == 1 || device == 2;
        if ((deviceLandscape && UIInterfaceOrientationIsPortrait(status)) ||
            (devicePortrait && UIInterfaceOrientationIsLandscape(status))) {
            CGRect frame = root->frame();
            frame.size = TRABannerSwapped(frame.size);
            root->setFrame(frame);
        }
    }
    setHidden(true);
    if (bannerSize_.isAuto) {
        checkNetworkState();
        return;
    }
    loadingAd_ = false;
    autoPositionBanner();
    if (!firstLoad_) createShowWebViewTimer();
    else if (webView_ && currentHtmlBanner_)
        webView_->loadHTMLString(*currentHtmlBanner_,
                                 NSURL::URLWithString(TRAMetadata::sharedMetadata()->getAdPlatformHost()));
}

// ---- table cells ------------------------------------------------------------------------------------------

void TRABannerView::setBannerWithCell(const Ref<UITableViewCell>& cell, bool bannerIndex) {
    if (TRABannerIsDNS() || !cell) return;
    rootView_ = cell;
    if (tag() == 0) setTag(gTRABannerNextCellTag++);
    Ref<UIView> tagged = cell->viewWithTag(tag());
    if (!bannerIndex) {
        if (tagged) tagged->setHidden(true);
        return;
    }
    // The superview may hold the last reference but the caller's.
    auto keep = self<TRABannerView>();
    removeFromSuperview();
    cell->contentView()->addSubview(keep);
    cell->contentView()->bringSubviewToFront(keep);
    setHidden(lastAdapptValue_ ? devHideBanner_ : true);
}

namespace {

bool TRABannerCellMatches(int64_t value, int wanted, int repeatEach) {
    if (value == wanted) return true;
    return repeatEach > 0 && value % repeatEach == wanted;
}

}  // namespace

void TRABannerView::addSTABannerToCellWithIndexPathAtIntexPathSection(const Ref<UITableViewCell>& cell,
                                                                     NSIndexPath indexPath, int section) {
    addSTABannerToCellWithIndexPathAtIntexPathSection(cell, indexPath, section, 0);
}

void TRABannerView::addSTABannerToCellWithIndexPathAtIntexPathSection(const Ref<UITableViewCell>& cell,
                                                                     NSIndexPath indexPath, int section,
                                                                     int repeatEach) {
    setBannerWithCell(cell, TRABannerCellMatches(indexPath.section, section, repeatEach));
}

void TRABannerView::addSTABannerToCellWithIndexPathAtIntexPathRow(const Ref<UITableViewCell>& cell,
                                                                 NSIndexPath indexPath, int row) {
    addSTABannerToCellWithIndexPathAtIntexPathRow(cell, indexPath, row, 0);
}

void TRABannerView::addSTABannerToCellWithIndexPathAtIntexPathRow(const Ref<UITableViewCell>& cell,
                                                                 NSIndexPath indexPath, int row, int repeatEach) {
    setBannerWithCell(cell, TRABannerCellMatches(indexPath.row, row, repeatEach));
}
