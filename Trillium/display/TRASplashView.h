// The native template splash screen: a full-size view that paints one of six
// colour themes (linear gradient, radial gradient or plain colour) and shows,
// centred, the application icon with rounded corners, the application name,
// a loading indicator (the system spinner, or a small web view with the
// client's animated "loading" page) and a "Loading..." label. The splash
// screen controller fills the texts and icon; every drawRect lays the
// elements out again and repaints. Main thread.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"
#include "platform/web/UIWebView.h"

class TRASplashView : public UIView {
public:
    enum : int64_t {
        ThemeDeepBlue = 0,
        ThemeSky = 1,
        ThemeAshenSky = 2,
        ThemeBlaze = 3,
        ThemeGloomy = 4,
        ThemeOcean = 5,
    };

    static Ref<TRASplashView> alloc() { return NSObject::alloc<TRASplashView>(); }
    // Makes the name label, the icon view and the loading label (sizes by
    // device class); the indicator is made by the first drawRect that needs it.
    Ref<UIView> initWithFrame(CGRect frame) override;

    // Lays out the elements (portrait or landscape layout) and paints the theme.
    void drawRect(CGRect rect) override;

    // The web-view indicator with the "loading" page; without the page the
    // type falls back to 0 for good and the web view is removed again.
    void initializeLoadingWebView();
    void initializeActivityIndicator();

    // The six themes; any other number draws DeepBlue.
    void drawThemeDeepBlue();
    void drawThemeSky();
    void drawThemeAshenSky();
    void drawThemeBlaze();
    void drawThemeGloomy();
    void drawThemeOcean();
    // The painters, in the current graphics context (saved, not restored).
    void drawNonGradientBackgroundWithColor(const CGColorRef& color);
    // Locations 0, 0.5 and 1, as many as there are colours, top to bottom.
    void drawLinearGradientBackgroundWithColors(const std::vector<CGColorRef>& colors);
    // Locations 0.25 and 0.75 from the centre out to 320 points, the outer
    // colour beyond.
    void drawRadialGradientBackgroundWithColors(const std::vector<CGColorRef>& colors);

    // ---- properties ----
    int64_t splashViewTheme() const { return splashViewTheme_; }
    void setSplashViewTheme(int64_t theme) { splashViewTheme_ = theme; }
    // 1: the web-view indicator; anything else: the activity indicator.
    int64_t splashLoadingIndicatorType() const { return splashLoadingIndicatorType_; }
    void setSplashLoadingIndicatorType(int64_t type) { splashLoadingIndicatorType_ = type; }
    bool isLandscape() const { return isLandscape_; }
    void setIsLandscape(bool landscape) { isLandscape_ = landscape; }
    // Kept for callers; drawing does not read it.
    int64_t splashViewBackgroundType() const { return splashViewBackgroundType_; }
    void setSplashViewBackgroundType(int64_t type) { splashViewBackgroundType_ = type; }
    const Ref<UIImageView>& iconImageView() const { return iconImageView_; }
    const Ref<UILabel>& appNameLabel() const { return appNameLabel_; }
    const Ref<UILabel>& loadingLabel() const { return loadingLabel_; }
    const Ref<UIWebView>& loadingWebView() const { return loadingWebView_; }
    const Ref<UIActivityIndicatorView>& loadingActivityIndicator() const { return loadingActivityIndicator_; }

private:
    // The indicator the layout places, made when first needed.
    Ref<UIView> indicatorInUse();
    void setTextColors(const Ref<UIColor>& name, const Ref<UIColor>& loading);

    int64_t splashViewTheme_ = ThemeDeepBlue;
    int64_t splashLoadingIndicatorType_ = 0;
    bool isLandscape_ = false;
    int64_t splashViewBackgroundType_ = 0;
    Ref<UIImageView> iconImageView_;
    Ref<UILabel> appNameLabel_;
    Ref<UILabel> loadingLabel_;
    Ref<UIWebView> loadingWebView_;
    Ref<UIActivityIndicatorView> loadingActivityIndicator_;
};
