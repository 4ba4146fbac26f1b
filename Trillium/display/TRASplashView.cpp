#include "Trillium/display/TRASplashView.h"

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRALog.h"
#include "platform/foundation/NSURL.h"
#include "platform/ui/UIDevice.h"

namespace {

bool splashViewOnTablet() { return UIDevice::currentDevice()->userInterfaceIdiom() != 0; }

// A theme colour given as components out of 255, opaque.
Ref<UIColor> splashViewColor(int red, int green, int blue) {
    return UIColor::colorWithRed(static_cast<CGFloat>(red / 255.0), static_cast<CGFloat>(green / 255.0),
                                 static_cast<CGFloat>(blue / 255.0), 1.0f);
}

CGFloat frameBottom(const Ref<UIView>& view) { return view->frame().origin.y + view->frame().size.height; }

void setCenterY(const Ref<UIView>& view, CGFloat x, CGFloat y) { view->setCenter(CGPointMake(x, y)); }

}  // namespace

Ref<UIView> TRASplashView::initWithFrame(CGRect frame) {
    if (!UIView::initWithFrame(frame)) return nullptr;
    bool tablet = splashViewOnTablet();
    setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);

    appNameLabel_ = UILabel::alloc();
    appNameLabel_->initWithFrame(CGRectZero);
    appNameLabel_->setBackgroundColor(UIColor::clearColor());
    appNameLabel_->setFont(UIFont::systemFontOfSize(tablet ? 36 : 18));
    appNameLabel_->setTextColor(UIColor::blackColor());
    appNameLabel_->setAutoresizingMask(UIViewAutoresizingFlexibleRightMargin);
    addSubview(appNameLabel_);

    CGFloat iconSide = tablet ? 200 : 108;
    iconImageView_ = UIImageView::alloc();
    iconImageView_->initWithFrame(CGRectMake(0, 0, iconSide, iconSide));
    addSubview(iconImageView_);

    loadingLabel_ = UILabel::alloc();
    loadingLabel_->initWithFrame(CGRectZero);
    loadingLabel_->setBackgroundColor(UIColor::clearColor());
    loadingLabel_->setFont(UIFont::systemFontOfSize(tablet ? 28 : 16));
    loadingLabel_->setTextColor(UIColor::blackColor());
    addSubview(loadingLabel_);
    return self<UIView>();
}

// ---- indicators ------------------------------------------------------------------------------

void TRASplashView::initializeLoadingWebView() {
    loadingWebView_ = UIWebView::alloc();
    loadingWebView_->initWithFrame(CGRectMake(0, 0, 144, 18));
    loadingWebView_->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
                                         UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin);
    loadingWebView_->setBackgroundColor(UIColor::clearColor());
    loadingWebView_->setOpaque(false);
    addSubview(loadingWebView_);
    std::optional<std::string> path = TRAAdSDKUtils::getHtmlBundlePathWithHtmlName("loading");
    if (path) {
        loadingWebView_->loadRequest(*NSURLRequest::requestWithURL(NSURL::fileURLWithPath(*path)));
        return;
    }
    TRALog::error("The \"loading\" page is missing; the splash shows the activity indicator instead.");
    splashLoadingIndicatorType_ = 0;
    loadingWebView_->removeFromSuperview();
}

void TRASplashView::initializeActivityIndicator() {
    loadingActivityIndicator_ = UIActivityIndicatorView::alloc()->initWithActivityIndicatorStyle(
        UIActivityIndicatorViewStyleWhiteLarge);
    addSubview(loadingActivityIndicator_);
    loadingActivityIndicator_->startAnimating();
}

Ref<UIView> TRASplashView::indicatorInUse() {
    if (splashLoadingIndicatorType_ == 1) {
        if (!loadingWebView_) initializeLoadingWebView();
        if (splashLoadingIndicatorType_ == 1) return loadingWebView_;
    }
    if (!loadingActivityIndicator_) initializeActivityIndicator();
    return loadingActivityIndicator_;
}

// ---- layout and painting ---------------------------------------------------------------------

void TRASplashView::drawRect(CGRect rect) {
    UIView::drawRect(rect);
    appNameLabel_->sizeToFit();
    iconImageView_->layer()->setMasksToBounds(true);
    iconImageView_->layer()->setCornerRadius(static_cast<CGFloat>(iconImageView_->frame().size.width / 6.4));
    loadingLabel_->sizeToFit();

    CGRect area = bounds();
    CGFloat cx = CGRectGetMidX(area);
    CGFloat cy = CGRectGetMidY(area);
    CGFloat nameH = appNameLabel_->frame().size.height;
    CGFloat iconH = iconImageView_->frame().size.height;
    CGFloat labelH = loadingLabel_->frame().size.height;
    Ref<UIView> indicator = indicatorInUse();
    CGFloat indH = indicator->frame().size.height;

    if (!isLandscape_) {
        setCenterY(appNameLabel_, cx, cy);
        setCenterY(iconImageView_, cx, cy - nameH - iconH / 2);
        setCenterY(indicator, cx, cy + nameH + indH);
        setCenterY(loadingLabel_, cx, frameBottom(indicator) + labelH);
    } else {
        setCenterY(appNameLabel_, cx, cy + nameH);
        setCenterY(iconImageView_, cx, appNameLabel_->center().y - nameH - iconH / 2);
        setCenterY(indicator, cx, frameBottom(appNameLabel_) + indH);
        setCenterY(loadingLabel_, cx, frameBottom(indicator) + nameH);
    }

    switch (splashViewTheme_) {
        case ThemeSky: drawThemeSky(); break;
        case ThemeAshenSky: drawThemeAshenSky(); break;
        case ThemeBlaze: drawThemeBlaze(); break;
        case ThemeGloomy: drawThemeGloomy(); break;
        case ThemeOcean: drawThemeOcean(); break;
        default: drawThemeDeepBlue(); break;
    }
}

void TRASplashView::setTextColors(const Ref<UIColor>& name, const Ref<UIColor>& loading) {
    appNameLabel_->setTextColor(name);
    loadingLabel_->setTextColor(loading);
}

void TRASplashView::drawThemeDeepBlue() {
    drawLinearGradientBackgroundWithColors({splashViewColor(6, 108, 170)->CGColor(),
                                            splashViewColor(26, 170, 227)->CGColor(),
                                            splashViewColor(6, 108, 170)->CGColor()});
    setTextColors(splashViewColor(255, 255, 255), splashViewColor(208, 210, 210));
}

void TRASplashView::drawThemeSky() {
    drawRadialGradientBackgroundWithColors(
        {splashViewColor(241, 241, 241)->CGColor(), splashViewColor(163, 212, 229)->CGColor()});
    setTextColors(splashViewColor(51, 51, 51), splashViewColor(162, 172, 176));
}

void TRASplashView::drawThemeAshenSky() {
    drawLinearGradientBackgroundWithColors(
        {splashViewColor(227, 227, 227)->CGColor(), splashViewColor(255, 255, 255)->CGColor()});
    setTextColors(splashViewColor(51, 51, 51), splashViewColor(153, 153, 153));
}

void TRASplashView::drawThemeBlaze() {
    drawLinearGradientBackgroundWithColors({splashViewColor(255, 96, 0)->CGColor(),
                                            splashViewColor(254, 151, 40)->CGColor(),
                                            splashViewColor(255, 96, 0)->CGColor()});
    setTextColors(splashViewColor(255, 255, 255), splashViewColor(251, 198, 151));
}

void TRASplashView::drawThemeGloomy() {
    drawNonGradientBackgroundWithColor(splashViewColor(47, 53, 63)->CGColor());
    setTextColors(splashViewColor(51, 181, 229), splashViewColor(122, 130, 139));
}

void TRASplashView::drawThemeOcean() {
    drawLinearGradientBackgroundWithColors(
        {splashViewColor(35, 124, 154)->CGColor(), splashViewColor(135, 209, 222)->CGColor()});
    setTextColors(splashViewColor(6, 61, 82), splashViewColor(6, 61, 82));
}

void TRASplashView::drawNonGradientBackgroundWithColor(const CGColorRef& color) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    CGContextSaveGState(context);
    CGContextSetFillColorWithColor(context, color);
    CGContextFillRect(context, bounds());
}

void TRASplashView::drawLinearGradientBackgroundWithColors(const std::vector<CGColorRef>& colors) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    // The location table has three entries: a longer list has none to take.
    if (!context || colors.empty() || colors.size() > 3) return;
    CGContextSaveGState(context);
    static const CGFloat kSplashLinearLocations[] = {0.0f, 0.5f, 1.0f};
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGGradientRef gradient = CGGradientCreateWithColors(space, colors, kSplashLinearLocations);
    CGRect area = bounds();
    CGFloat cx = CGRectGetMidX(area);
    CGContextDrawLinearGradient(context, gradient, CGPointMake(cx, 0), CGPointMake(cx, area.size.height), 0);
    CGGradientRelease(gradient);
    CGColorSpaceRelease(space);
}

void TRASplashView::drawRadialGradientBackgroundWithColors(const std::vector<CGColorRef>& colors) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context || colors.size() != 2) return;
    CGContextSaveGState(context);
    static const CGFloat kSplashRadialLocations[] = {0.25f, 0.75f};
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGGradientRef gradient = CGGradientCreateWithColors(space, colors, kSplashRadialLocations);
    CGRect area = bounds();
    CGPoint centre = CGPointMake(CGRectGetMidX(area), CGRectGetMidY(area));
    CGContextDrawRadialGradient(context, gradient, centre, 0, centre, 320, kCGGradientDrawsAfterEndLocation);
    CGGradientRelease(gradient);
    CGColorSpaceRelease(space);
}
