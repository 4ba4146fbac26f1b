// The full-screen splash screen the lifecycle manager presents while the
// splash ad loads. By the splash mode and the server's HTML switch it shows
// the application's launch image (kept matched to device and orientation,
// with an optional loading indicator), the native themed view, or the HTML
// splash page, and falls back from the launch image to a template screen when
// there is none. It hides the status bar while it is up and gives it back as
// it was. The HTML page ends the splash through its "closeSplash" command
// after its 2 s fade-out; when the page never answers, the controller ends it
// itself about 3 s after the fade-out was asked, and only once either way.
// Main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "Trillium/display/TRASplashPreferences.h"
#include "Trillium/display/TRASplashView.h"
#include "platform/foundation/NSTimer.h"
#include "platform/ui/CAGradientLayer.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIViewController.h"
#include "platform/web/UIWebView.h"

class TRASplashViewController : public UIViewController, public UIWebViewDelegate {
public:
    // The launch image families, by the first probe that finds an image.
    enum class LaunchImageFamily { Default, LaunchImage, LaunchImage700 };
    // How long after the fade-out was asked the splash ends without the page.
    static constexpr double kFadeOutFallbackSeconds = 3.0;

    static Ref<TRASplashViewController> alloc() { return NSObject::alloc<TRASplashViewController>(); }
    Ref<TRASplashViewController> init() { return self<TRASplashViewController>(); }
    ~TRASplashViewController() override;

    // Takes the server's HTML switch, then builds the screen of the mode:
    // 1 launch image, 2 template (HTML or native), any other nothing.
    void viewDidLoad() override;
    // Notes whether the status bar is visible, then hides it.
    void viewWillAppear(bool animated) override;
    // Gives the status bar back as it was before the screen appeared.
    void viewWillDisappear(bool animated) override;
    bool prefersStatusBarHidden() override { return true; }

    // Keeps the flag; the HTML page fades out and then ends the splash
    // through "closeSplash" (or the fallback). Without the HTML page the
    // manager hears at once.
    void sendSplashFadeoutToHtmlWebviewWithShowAd(bool showAd);

    // ---- the HTML page's navigations ----
    // Blank pages are refused; "trilliumad://closeSplash" ends the splash
    // (once); everything else is allowed.
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    // Load failures change nothing: the manager's timers and the fallback end the splash.
    void webViewDidFailLoadWithError(Ref<UIWebView>, Ref<NSError>) override {}

    // ---- the screens ----
    void prepareOriginalSplashView();
    void prepareTemplateSplashView();
    void prepareTemplateHtmlSplashView();
    // The template filled with the name, loading type, colours and icon.
    // Values enter the page as escaped script strings, the name as text.
    std::string getHtml();
    std::string getThemeColor() const;
    std::string getThemeTextColor() const;
    // Keeps the launch image matched to device and orientation (mode 1) or
    // redraws the template screen.
    void updateSplashImage();
    Ref<UIImage> findCurrentIcon();
    void swithcToTemplateSplash();

    // The launch image's name within its family; nullopt on a tablet whose
    // orientation is none of the four.
    static std::optional<std::string> launchImageName(LaunchImageFamily family, bool tablet,
                                                      UIInterfaceOrientation orientation, CGFloat screenHeight);
    // The application name the template screens show: the preferences', the
    // Info.plist display name, or "".
    std::string applicationName() const;

    // ---- orientation ----
    UIInterfaceOrientationMask supportedInterfaceOrientations() override;
    bool shouldAutorotate() override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() override;
    bool shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation o) override;

    // The gradient of the DeepBlue theme as a layer (unused by the splash itself).
    static Ref<CAGradientLayer> deepBlue();

    // ---- properties ----
    const Ref<TRASplashPreferences>& splashPreferences() const { return splashPreferences_; }
    void setSplashPreferences(Ref<TRASplashPreferences> preferences) { splashPreferences_ = std::move(preferences); }
    const Ref<UIView>& originalSplashView() const { return originalSplashView_; }
    const std::optional<std::string>& currentLaunchImage() const { return currentLaunchImage_; }
    const Ref<UIImageView>& splashImageView() const { return splashImageView_; }
    const Ref<TRASplashView>& templateSplashView() const { return templateSplashView_; }
    const Ref<UIWebView>& loadingWebView() const { return loadingWebView_; }
    const Ref<UIActivityIndicatorView>& activityIndicatorView() const { return activityIndicatorView_; }
    const Ref<UIWebView>& htmlWebView() const { return htmlWebView_; }
    bool showAd() const { return showAd_.load(); }
    void setShowAd(bool showAd) { showAd_.store(showAd); }
    bool isHtmlSplash() const { return isHtmlSplash_.load(); }
    void setIsHtmlSplash(bool html) { isHtmlSplash_.store(html); }
    // The splash end has been handed to the manager (by the page or the fallback).
    bool fadeOutEnded() const { return fadeOutEnded_; }

private:
    bool onTablet() const;
    int64_t mode() const;
    // The preferences, made with the defaults when the manager gave none.
    const Ref<TRASplashPreferences>& preferences();
    // The quarter turn the landscape layouts use: +π/2 unless the first
    // landscape orientation listed is landscape right.
    static CGFloat landscapeRotation();
    void fadeOutFallback(Ref<NSTimer> timer);
    // Hands the end of the splash to the manager, once.
    void endFadeOut();

    Ref<TRASplashPreferences> splashPreferences_;
    Ref<UIView> originalSplashView_;
    std::optional<std::string> currentLaunchImage_;
    Ref<UIImageView> splashImageView_;
    Ref<TRASplashView> templateSplashView_;
    Ref<UIWebView> loadingWebView_;
    Ref<UIActivityIndicatorView> activityIndicatorView_;
    Ref<UIWebView> htmlWebView_;
    std::atomic<bool> showAd_{false};
    std::atomic<bool> isHtmlSplash_{false};
    bool applicationHasStatusBar_ = false;
    // A named image that did not load: the launch image is searched instead,
    // without asking for the name again.
    std::optional<std::string> missingUserImage_;
    Ref<NSTimer> fadeOutTimer_;
    bool fadeOutEnded_ = false;
};
