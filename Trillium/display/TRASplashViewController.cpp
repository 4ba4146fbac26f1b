#include "Trillium/display/TRASplashViewController.h"

#include <cmath>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRADataToBase64String.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TRAEventAdManager.h"
#include "Trillium/display/TRASplashScreenHtml.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSURL.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"

namespace {

// A quarter turn as the 32-bit float the platform's transforms take.
constexpr CGFloat kSplashQuarterTurn = 1.5707964f;
constexpr UIViewAutoresizing kSplashFlexibleSize = UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight;
constexpr UIViewAutoresizing kSplashFlexibleMargins =
    UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin | UIViewAutoresizingFlexibleTopMargin |
    UIViewAutoresizingFlexibleBottomMargin;

bool splashSystemBelow(int64_t major) { return !platform::systemVersionAtLeast(major, 0); }

bool nameIsSet(const std::optional<std::string>& name) { return name && !name->empty(); }

bool statusBarIsLandscape() {
    return UIInterfaceOrientationIsLandscape(UIApplication::sharedApplication()->statusBarOrientation());
}

// The first entry of the Info.plist orientations naming a landscape side; nullopt without one.
std::optional<std::string> splashFirstLandscapeEntry() {
    for (const std::string& entry : TRASplashPreferences::supportedOrientationEntries()) {
        if (entry.find("UIInterfaceOrientationLandscapeLeft") != std::string::npos)
            return std::string("UIInterfaceOrientationLandscapeLeft");
        if (entry.find("UIInterfaceOrientationLandscapeRight") != std::string::npos)
            return std::string("UIInterfaceOrientationLandscapeRight");
    }
    return std::nullopt;
}

// The text of a double-quoted script string: quotes, backslashes, line
// breaks and control characters escaped, and "<", ">" and "&" written as
// escapes so that no value can close the script element or open markup.
std::string splashScriptStringBody(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '<': out += "\\u003C"; break;
            case '>': out += "\\u003E"; break;
            case '&': out += "\\u0026"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    out += NSString::stringWithFormat("\\u%04X", static_cast<unsigned>(c));
                } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                           (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                            static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
                    // U+2028 and U+2029 end a line inside older script engines' strings.
                    out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
                    i += 2;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

// The name is shown as text: the page sets it as inner HTML.
std::string splashHtmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

// Replaces every declaration `name = "#marker#"` by the same text with the value in place of the marker.
void fillSplashVariable(std::string& page, const std::string& variable, const std::string& value) {
    std::string declaration = variable + " = \"#" + variable + "#\"";
    std::string filled = variable + " = \"" + splashScriptStringBody(value) + "\"";
    page = NSString::stringByReplacingOccurrencesOfString(page, declaration, filled);
}

// The dictionary under `key`, or null (logged when something else is there).
Value splashInfoDictionaryAt(const Value& parent, const char* key, const char* path) {
    const Value& value = parent[key];
    if (value.isNull() || value.isDictionary()) return value;
    TRALog::errorf("Info.plist \"%@\" is not a dictionary; the icon is looked up by its default name.", path);
    return Value();
}

}  // namespace

TRASplashViewController::~TRASplashViewController() {
    if (loadingWebView_) loadingWebView_->setDelegate(nullptr);
    if (htmlWebView_) htmlWebView_->setDelegate(nullptr);
    if (fadeOutTimer_) fadeOutTimer_->invalidate();
}

bool TRASplashViewController::onTablet() const { return UIDevice::currentDevice()->userInterfaceIdiom() != 0; }

const Ref<TRASplashPreferences>& TRASplashViewController::preferences() {
    if (!splashPreferences_) {
        TRALog::error("The splash screen was given no preferences; it uses the defaults.");
        splashPreferences_ = NSObject::alloc<TRASplashPreferences>()->init();
    }
    return splashPreferences_;
}

int64_t TRASplashViewController::mode() const { return splashPreferences_ ? splashPreferences_->splashMode() : 0; }

CGFloat TRASplashViewController::landscapeRotation() {
    std::optional<std::string> first = splashFirstLandscapeEntry();
    return first && *first == "UIInterfaceOrientationLandscapeRight" ? -kSplashQuarterTurn : kSplashQuarterTurn;
}

// ---- appearance ---------------------------------------------------------------------------------

void TRASplashViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    isHtmlSplash_ = TRAMetadata::sharedMetadata()->isHtmlSplash();
    switch (preferences()->splashMode()) {
        case TRASplashPreferences::SplashModeLaunchImage: prepareOriginalSplashView(); break;
        case TRASplashPreferences::SplashModeTemplate:
            if (isHtmlSplash_) prepareTemplateHtmlSplashView();
            else prepareTemplateSplashView();
            break;
        default: break;  // no screen: the view stays empty
    }
}

void TRASplashViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    applicationHasStatusBar_ = !UIApplication::sharedApplication()->isStatusBarHidden();
    TRAAdSDKUtils::setApplicationStatusBarHidden(true);
}

void TRASplashViewController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    TRAAdSDKUtils::setApplicationStatusBarHidden(!applicationHasStatusBar_);
}

// ---- the launch-image screen --------------------------------------------------------------------

void TRASplashViewController::prepareOriginalSplashView() {
    const Ref<TRASplashPreferences>& prefs = preferences();
    CGRect frame = view()->frame();
    originalSplashView_ = UIView::alloc()->initWithFrame(CGRectMake(0, 0, frame.size.width, frame.size.height));
    originalSplashView_->setAutoresizingMask(kSplashFlexibleSize);
    view()->addSubview(originalSplashView_);

    if (!splashImageView_) {
        splashImageView_ = UIImageView::alloc();
        splashImageView_->initWithFrame(originalSplashView_->frame());
        if (!splashSystemBelow(8) && statusBarIsLandscape() && !onTablet() &&
            !nameIsSet(prefs->splashUserDefinedImageName())) {
            // A phone's launch images are portrait: turned to fill a landscape screen.
            splashImageView_->setTransform(CGAffineTransformMakeRotation(kSplashQuarterTurn));
            splashImageView_->setFrame(originalSplashView_->frame());
        }
        splashImageView_->setAutoresizingMask(kSplashFlexibleSize);
        originalSplashView_->insertSubviewAtIndex(splashImageView_, 0);
    }

    if (prefs->isSplashLoadingIndicatorEnabled()) {
        CGPoint unset = CGPointMake(-1, -1);
        if (CGPointEqualToPoint(prefs->splashLoadingIndicatorCenterPoint(), unset))
            prefs->setSplashLoadingIndicatorCenterPoint(originalSplashView_->center());
        bool dotsShown = false;
        if (prefs->splashLoadingIndicatorType() == TRASplashPreferences::LoadingIndicatorDots) {
            loadingWebView_ = UIWebView::alloc();
            loadingWebView_->initWithFrame(CGRectMake(0, 0, 144, 18));
            loadingWebView_->setAutoresizingMask(kSplashFlexibleMargins);
            loadingWebView_->setCenter(prefs->splashLoadingIndicatorCenterPoint());
            loadingWebView_->setBackgroundColor(UIColor::clearColor());
            loadingWebView_->setOpaque(false);
            if (std::optional<std::string> path = TRAAdSDKUtils::getHtmlBundlePathWithHtmlName("loading")) {
                loadingWebView_->loadRequest(*NSURLRequest::requestWithURL(NSURL::fileURLWithPath(*path)));
                originalSplashView_->addSubview(loadingWebView_);
                dotsShown = true;
            } else {
                TRALog::error("The \"loading\" page is missing; the splash shows the activity indicator instead.");
                prefs->setSplashLoadingIndicatorType(TRASplashPreferences::LoadingIndicatorActivity);
            }
        }
        if (!dotsShown) {
            activityIndicatorView_ = UIActivityIndicatorView::alloc()->initWithActivityIndicatorStyle(
                UIActivityIndicatorViewStyleWhiteLarge);
            activityIndicatorView_->setCenter(prefs->splashLoadingIndicatorCenterPoint());
            if (CGPointEqualToPoint(activityIndicatorView_->center(), originalSplashView_->center()))
                activityIndicatorView_->setAutoresizingMask(kSplashFlexibleMargins);
            activityIndicatorView_->startAnimating();
            originalSplashView_->addSubview(activityIndicatorView_);
        }
    }

    // From 8.0 the first image comes with the presentation's orientation
    // query (shouldAutorotate); engine wrappers present differently.
    auto sdk = TRATrilliumSDK::sharedInstance();
    if (splashSystemBelow(8) || sdk->isUnityEnvironment() || sdk->isCoronaEnvironment() ||
        sdk->isCocos2DXEnvironment())
        updateSplashImage();
}

std::optional<std::string> TRASplashViewController::launchImageName(LaunchImageFamily family, bool tablet,
                                                                    UIInterfaceOrientation orientation,
                                                                    CGFloat screenHeight) {
    const char* prefix = family == LaunchImageFamily::Default       ? "Default"
                         : family == LaunchImageFamily::LaunchImage ? "LaunchImage"
                                                                    : "LaunchImage-700";
    std::string base = prefix;
    if (tablet) {
        if (UIInterfaceOrientationIsPortrait(orientation)) return base + "-Portrait";
        if (UIInterfaceOrientationIsLandscape(orientation)) return base + "-Landscape";
        return std::nullopt;
    }
    return screenHeight == 568.0f ? base + "-568h" : base;
}

void TRASplashViewController::updateSplashImage() {
    if (!splashPreferences_) return;
    if (mode() != TRASplashPreferences::SplashModeLaunchImage) {
        CGRect bounds = isViewLoaded() ? view()->bounds() : CGRectZero;
        if (htmlWebView_) htmlWebView_->setFrame(CGRectMake(0, 0, bounds.size.width, bounds.size.height));
        else if (templateSplashView_) templateSplashView_->setNeedsDisplay();
        return;
    }
    if (!splashImageView_) return;

    const std::optional<std::string>& userName = splashPreferences_->splashUserDefinedImageName();
    if (nameIsSet(userName) && userName != missingUserImage_) {
        if (userName == currentLaunchImage_ && splashImageView_->image()) return;
        currentLaunchImage_ = userName;
        if (Ref<UIImage> image = UIImage::imageNamed(*userName)) {
            splashImageView_->setImage(image);
            return;
        }
        // The application's own image is missing: the launch image stands in.
        TRALog::errorf("Splash image \"%@\" not found; the launch image is shown instead.", *userName);
        missingUserImage_ = userName;
    }

    bool tablet = onTablet();
    std::optional<LaunchImageFamily> family;
    bool defaultFound = UIImage::imageNamed("Default") != nullptr;
    if (!defaultFound && tablet)
        defaultFound = UIImage::imageNamed("Default-Portrait~ipad") || UIImage::imageNamed("Default-Landscape~ipad");
    if (!defaultFound && !tablet)
        defaultFound = UIImage::imageNamed("Default@2x") || UIImage::imageNamed("Default-568h@2x.png");
    if (defaultFound) family = LaunchImageFamily::Default;
    else if (UIImage::imageNamed("LaunchImage"))
        family = splashSystemBelow(7) ? LaunchImageFamily::LaunchImage : LaunchImageFamily::LaunchImage700;
    else if (UIImage::imageNamed("LaunchImage-700")) family = LaunchImageFamily::LaunchImage700;
    if (!family) {
        TRALog::info("No launch image found; the splash shows the template screen.");
        swithcToTemplateSplash();
        return;
    }

    std::optional<std::string> name =
        launchImageName(*family, tablet, UIApplication::sharedApplication()->statusBarOrientation(),
                        UIScreen::mainScreen()->bounds().size.height);
    if (name && name == currentLaunchImage_) return;
    currentLaunchImage_ = name;
    Ref<UIImage> image = name ? UIImage::imageNamed(*name) : nullptr;
    splashImageView_->setImage(image);
    if (!image) {
        TRALog::errorf("Launch image %@ not found; the splash shows the template screen.", name);
        swithcToTemplateSplash();
    }
}

void TRASplashViewController::swithcToTemplateSplash() {
    if (originalSplashView_) originalSplashView_->removeFromSuperview();
    preferences()->setSplashMode(TRASplashPreferences::SplashModeTemplate);
    if (isHtmlSplash_) prepareTemplateHtmlSplashView();
    else prepareTemplateSplashView();
}

// ---- the native template screen -----------------------------------------------------------------

std::string TRASplashViewController::applicationName() const {
    if (splashPreferences_ && nameIsSet(splashPreferences_->splashTemplateAppName()))
        return *splashPreferences_->splashTemplateAppName();
    Value name = NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleDisplayName");
    if (const std::string* text = name.string()) return *text;
    if (!name.isNull()) TRALog::error("Info.plist \"CFBundleDisplayName\" is not a string; the splash shows no name.");
    return "";
}

void TRASplashViewController::prepareTemplateSplashView() {
    // Built once: a second fall-back from the launch image finds it there.
    if (templateSplashView_) return;
    const Ref<TRASplashPreferences>& prefs = preferences();
    CGRect bounds = view()->bounds();
    templateSplashView_ = TRASplashView::alloc();
    templateSplashView_->initWithFrame(CGRectMake(0, 0, bounds.size.width, bounds.size.height));
    view()->addSubview(templateSplashView_);
    templateSplashView_->setSplashViewTheme(prefs->splashTemplateTheme());
    templateSplashView_->setSplashLoadingIndicatorType(prefs->splashLoadingIndicatorType());
    templateSplashView_->appNameLabel()->setText(applicationName());
    const std::optional<std::string>& iconName = prefs->splashTemplateIconImageName();
    templateSplashView_->iconImageView()->setImage(nameIsSet(iconName) ? UIImage::imageNamed(*iconName)
                                                                       : findCurrentIcon());
    templateSplashView_->loadingLabel()->setText(std::string("Loading..."));
}

Ref<UIImage> TRASplashViewController::findCurrentIcon() {
    bool tablet = onTablet();
    bool modern = !splashSystemBelow(7);
    Value info = NSBundle::mainBundle()->infoDictionary();
    Value icons = splashInfoDictionaryAt(info, "CFBundleIcons", "CFBundleIcons");
    Value primary = splashInfoDictionaryAt(icons, "CFBundlePrimaryIcon", "CFBundleIcons.CFBundlePrimaryIcon");
    const Value& files = primary["CFBundleIconFiles"];
    if (!files.isNull() && !files.isArray())
        TRALog::error("Info.plist \"CFBundleIconFiles\" is not an array; the icon is looked up by its default name.");

    std::optional<std::string> name;
    const Value::Array* list = files.array();
    // No list, or an empty one: the asset catalogue's names.
    bool catalogue = !list || list->empty() || list->front().stringValue().find("AppIcon") != std::string::npos;
    if (catalogue) {
        name = tablet ? (modern ? "AppIcon76x76" : "AppIcon72x72") : (modern ? "AppIcon60x60" : "AppIcon57x57");
    } else {
        CGFloat wanted = tablet ? (modern ? 76 : 72) : (modern ? 60 : 57);
        for (const Value& entry : *list) {
            const std::string* file = entry.string();
            if (!file) continue;
            Ref<UIImage> image = UIImage::imageNamed(*file);
            if (image && image->size().width == wanted) {
                name = *file;
                break;
            }
        }
    }

    auto loads = [&] { return name && UIImage::imageNamed(*name) != nullptr; };
    auto sdk = TRATrilliumSDK::sharedInstance();
    if (sdk->isUnityEnvironment() && !loads()) name = "AppIcon57x57";
    if (sdk->isCoronaEnvironment() || sdk->isCocos2DXEnvironment()) {
        for (const char* fallback : {"Icon-76", "Icon-72", "Icon-60", "Icon-Small-50", "Icon"})
            if (!loads()) name = fallback;
    }
    return name ? UIImage::imageNamed(*name) : nullptr;
}

// ---- the HTML template screen -------------------------------------------------------------------

void TRASplashViewController::prepareTemplateHtmlSplashView() {
    if (htmlWebView_) return;
    CGRect bounds = view()->bounds();
    htmlWebView_ = UIWebView::alloc();
    htmlWebView_->initWithFrame(CGRectMake(0, 0, bounds.size.width, bounds.size.height));

    auto sdk = TRATrilliumSDK::sharedInstance();
    if (sdk->isUnityEnvironment()) {
        int64_t supported = TRAAdSDKUtils::supportedOrientations();
        int64_t rotation = TRAAdSDKUtils::getUnityAutoRotation();
        auto swap = [this](const Ref<UIView>& target) {
            CGRect b = view()->bounds();
            target->setFrame(CGRectMake(0, 0, b.size.height, b.size.width));
        };
        auto swapBoth = [&] {
            swap(view());
            swap(htmlWebView_);
        };
        CGSize size = htmlWebView_->frame().size;
        if (splashSystemBelow(8)) {
            if (supported == 1) swap(htmlWebView_);
        } else if (supported != 2 && rotation == 2) {
            if ((supported == 0 && size.width > size.height) || (supported == 1 && size.height > size.width))
                swapBoth();
        } else if (supported == 2 && rotation == 2) {
            if (statusBarIsLandscape() && size.height > size.width) swapBoth();
        }
    }

    view()->addSubview(htmlWebView_);
    view()->setBackgroundColor(UIColor::clearColor());
    htmlWebView_->setBackgroundColor(UIColor::clearColor());
    htmlWebView_->setOpaque(false);
    htmlWebView_->setDelegate(self<TRASplashViewController>());
    htmlWebView_->scrollView()->setScrollEnabled(false);
    htmlWebView_->loadHTMLString(getHtml(), NSURL::fileURLWithPath(NSBundle::mainBundle()->bundlePath()));
}

std::string TRASplashViewController::getThemeColor() const {
    switch (splashPreferences_ ? splashPreferences_->splashTemplateTheme() : 0) {
        case TRASplashView::ThemeSky: return "#a3d4e5";
        case TRASplashView::ThemeAshenSky: return "#E3E3E3";
        case TRASplashView::ThemeBlaze: return "#FF6000";
        case TRASplashView::ThemeGloomy: return "#2F353F";
        case TRASplashView::ThemeOcean: return "#237C9A";
        default: return "#066CAA";
    }
}

std::string TRASplashViewController::getThemeTextColor() const {
    switch (splashPreferences_ ? splashPreferences_->splashTemplateTheme() : 0) {
        case TRASplashView::ThemeSky:
        case TRASplashView::ThemeAshenSky: return "#333333";
        case TRASplashView::ThemeGloomy: return "#33B5E5";
        case TRASplashView::ThemeOcean: return "#063D51";
        default: return "#FFFFFF";
    }
}

std::string TRASplashViewController::getHtml() {
    const Ref<TRASplashPreferences>& prefs = preferences();
    std::string page = TRASplashScreenHtml::getSplashScreenHtml();
    fillSplashVariable(page, "splash_appName", splashHtmlText(applicationName()));
    fillSplashVariable(page, "splash_loadingType",
                       prefs->splashLoadingIndicatorType() == TRASplashPreferences::LoadingIndicatorDots
                           ? "LoadingDots"
                           : "LoadingIOS");
    fillSplashVariable(page, "splash_bgColor", getThemeColor());
    fillSplashVariable(page, "splash_fontColor", getThemeTextColor());
    const std::optional<std::string>& iconName = prefs->splashTemplateIconImageName();
    Ref<UIImage> icon = nameIsSet(iconName) ? UIImage::imageNamed(*iconName) : findCurrentIcon();
    if (std::optional<NSData> png = icon ? UIImagePNGRepresentation(icon) : std::nullopt) {
        std::string base64 = TRADataToBase64String::base64String(*png);
        if (!base64.empty())
            fillSplashVariable(page, "splash_imageUrl", NSString::stringWithFormat("data:image/png;base64,%@", base64));
    }
    return page;
}

// ---- ending the HTML splash ---------------------------------------------------------------------

void TRASplashViewController::sendSplashFadeoutToHtmlWebviewWithShowAd(bool showAd) {
    showAd_ = showAd;
    if (!isHtmlSplash_ || !htmlWebView_) {
        Ref<TRASplashViewController> keep = self<TRASplashViewController>();
        TRAEventAdManager::sharedInstance()->splashViewControllerEndFadeOutWithShowAd(showAd);
        return;
    }
    htmlWebView_->stringByEvaluatingJavaScriptFromString("splash_fadeout()");
    // The page may never answer (not loaded, broken script): the splash ends anyway.
    if (!fadeOutTimer_ && !fadeOutEnded_) {
        Weak<TRASplashViewController> weak = self<TRASplashViewController>();
        fadeOutTimer_ = NSTimer::scheduledTimerWithTimeInterval(kFadeOutFallbackSeconds, false, [weak](Ref<NSTimer>) {
            if (auto me = weak.lock()) me->fadeOutFallback(nullptr);
        });
    }
}

void TRASplashViewController::fadeOutFallback(Ref<NSTimer>) {
    if (fadeOutEnded_) return;
    TRALog::error("The splash page did not close itself; the splash ends without it.");
    endFadeOut();
}

void TRASplashViewController::endFadeOut() {
    if (fadeOutEnded_) return;
    fadeOutEnded_ = true;
    if (fadeOutTimer_) {
        fadeOutTimer_->invalidate();
        fadeOutTimer_ = nullptr;
    }
    // The manager drops its hold on this controller while it is told.
    Ref<TRASplashViewController> keep = self<TRASplashViewController>();
    TRAEventAdManager::sharedInstance()->splashViewControllerEndFadeOutWithShowAd(showAd_);
}

bool TRASplashViewController::webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request,
                                                                 UIWebViewNavigationType) {
    Ref<NSURL> url = request.URL();
    if (!url || url->absoluteString() == "about:blank") return false;
    if (TRAAdSDKUtils::pageCommandInUrl(url->absoluteString()) == "closeSplash") endFadeOut();
    return true;
}

// ---- orientation --------------------------------------------------------------------------------

UIInterfaceOrientationMask TRASplashViewController::supportedInterfaceOrientations() {
    auto sdk = TRATrilliumSDK::sharedInstance();
    int64_t supported = TRAAdSDKUtils::supportedOrientations();
    if (sdk->isUnityEnvironment() && (supported == 0 || supported == 1))
        return supported == 0 ? UIInterfaceOrientationMaskPortrait : UIInterfaceOrientationMaskLandscape;
    if (onTablet()) return UIInterfaceOrientationMaskAll;
    if (mode() == TRASplashPreferences::SplashModeLaunchImage) return UIInterfaceOrientationMaskPortrait;
    return splashPreferences_ && splashPreferences_->isLandscape() ? UIInterfaceOrientationMaskLandscape
                                                                   : UIInterfaceOrientationMaskPortrait;
}

bool TRASplashViewController::shouldAutorotate() {
    updateSplashImage();
    auto sdk = TRATrilliumSDK::sharedInstance();
    int64_t supported = TRAAdSDKUtils::supportedOrientations();
    int64_t rotation = TRAAdSDKUtils::getUnityAutoRotation();
    if (sdk->isUnityEnvironment() && rotation == 2 && supported != 2 && splashSystemBelow(8)) return true;
    if (sdk->isUnityEnvironment() && (supported == 0 || supported == 1)) return false;
    if (onTablet()) return true;
    bool landscape = splashPreferences_ && splashPreferences_->isLandscape();
    if (mode() == TRASplashPreferences::SplashModeLaunchImage) {
        if (splashPreferences_ && splashPreferences_->splashLoadingIndicatorType() != 0 && landscape && loadingWebView_)
            loadingWebView_->setTransform(CGAffineTransformMakeRotation(landscapeRotation()));
        return false;
    }
    if (mode() == TRASplashPreferences::SplashModeTemplate) return landscape;
    return false;
}

UIInterfaceOrientation TRASplashViewController::preferredInterfaceOrientationForPresentation() {
    auto sdk = TRATrilliumSDK::sharedInstance();
    int64_t supported = TRAAdSDKUtils::supportedOrientations();
    UIInterfaceOrientation statusBar = UIApplication::sharedApplication()->statusBarOrientation();
    if (sdk->isUnityEnvironment() && (supported == 0 || supported == 1)) {
        if (supported == 0) return UIInterfaceOrientationPortrait;
        if (splashSystemBelow(8))
            return statusBar == UIInterfaceOrientationLandscapeRight ? UIInterfaceOrientationLandscapeRight
                                                                     : UIInterfaceOrientationLandscapeLeft;
        return statusBar;
    }
    if (onTablet()) return UIViewController::preferredInterfaceOrientationForPresentation();
    if (mode() == TRASplashPreferences::SplashModeTemplate && splashPreferences_->isLandscape()) {
        UIInterfaceOrientation inherited = UIViewController::preferredInterfaceOrientationForPresentation();
        if (UIInterfaceOrientationIsLandscape(inherited)) return inherited;
        std::optional<std::string> first = splashFirstLandscapeEntry();
        return first && *first == "UIInterfaceOrientationLandscapeRight" ? UIInterfaceOrientationLandscapeRight
                                                                         : UIInterfaceOrientationLandscapeLeft;
    }
    return UIInterfaceOrientationPortrait;
}

bool TRASplashViewController::shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation o) {
    updateSplashImage();
    if (!onTablet()) return o == UIInterfaceOrientationPortrait;
    return o == UIInterfaceOrientationPortrait || UIInterfaceOrientationIsLandscape(o);
}

Ref<CAGradientLayer> TRASplashViewController::deepBlue() {
    auto layer = CAGradientLayer::layer();
    auto colour = [](int r, int g, int b) {
        return UIColor::colorWithRed(r / 255.0f, g / 255.0f, b / 255.0f, 1.0f)->CGColor();
    };
    layer->setColors({colour(6, 108, 170), colour(26, 170, 227), colour(6, 108, 170)});
    layer->setLocations(std::vector<CGFloat>{0.0f, 0.5f, 1.0f});
    return layer;
}
