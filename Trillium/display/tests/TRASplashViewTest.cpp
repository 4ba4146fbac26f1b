// The themed splash view: the six themes against reference snapshots (phone,
// and one on a tablet) and their backgrounds sampled pixel by pixel where the
// numbers say what they must be, the layout of icon, name, indicator and
// label, the icon's corner radius on a phone and a tablet, and the
// indicator's fall-back when the "loading" page is missing.
#include "Trillium/display/tests/TrilliumSplashTestSupport.h"
#include "platform/testing/SnapshotComparison.h"
#include "platform/ui/UIScreen.h"

namespace {

struct SplashRGB {
    int r, g, b;
};

::testing::AssertionResult splashColourNear(uint32_t pixel, SplashRGB want, int tolerance = 2) {
    int r = int((pixel >> 16) & 0xFF), g = int((pixel >> 8) & 0xFF), b = int(pixel & 0xFF);
    if (std::abs(r - want.r) <= tolerance && std::abs(g - want.g) <= tolerance && std::abs(b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << r << ", " << g << ", " << b << "), expected (" << want.r
                                         << ", " << want.g << ", " << want.b << ")";
}

}  // namespace

class TRASplashViewTest : public TrilliumSplashTest {
protected:
    Ref<TRASplashView> makeView(int64_t theme, CGRect frame = UIScreen::mainScreen()->bounds()) {
        auto view = TRASplashView::alloc();
        view->initWithFrame(frame);
        view->setSplashViewTheme(theme);
        view->appNameLabel()->setText(std::string("Paranormal Detector"));
        view->loadingLabel()->setText(std::string("Loading..."));
        return std::static_pointer_cast<TRASplashView>(view);
    }

    // Renders the view and keeps its pixels (premultiplied ARGB, screen scale).
    void render(const Ref<TRASplashView>& view) {
        std::string path = home() + "/splash.png";
        ASSERT_TRUE(view->renderToPNG(path));
        image_ = UIImage::imageWithContentsOfFile(path);
        ASSERT_TRUE(image_);
        scale_ = UIScreen::mainScreen()->scale();
    }
    // The pixel at a point of the view.
    uint32_t at(CGFloat x, CGFloat y) const {
        const auto& cg = *image_->CGImage();
        size_t px = std::min<size_t>(cg.width - 1, static_cast<size_t>(x * scale_));
        size_t py = std::min<size_t>(cg.height - 1, static_cast<size_t>(y * scale_));
        return cg.pixels[py * cg.width + px];
    }

    Ref<UIImage> image_;
    CGFloat scale_ = 1;
};

TEST_F(TRASplashViewTest, LinearThemesShadeDownwardsAndTwoColourThemesStayBelowTheMiddle) {
    struct Theme {
        int64_t theme;
        SplashRGB top, middle, bottom;
    };
    const Theme themes[] = {
        {TRASplashView::ThemeDeepBlue, {6, 108, 170}, {26, 170, 227}, {6, 108, 170}},
        {TRASplashView::ThemeAshenSky, {227, 227, 227}, {255, 255, 255}, {255, 255, 255}},
        {TRASplashView::ThemeBlaze, {255, 96, 0}, {254, 151, 40}, {255, 96, 0}},
        {TRASplashView::ThemeOcean, {35, 124, 154}, {135, 209, 222}, {135, 209, 222}},
        // Numbers outside 0 to 5 draw DeepBlue.
        {6, {6, 108, 170}, {26, 170, 227}, {6, 108, 170}},
        {-1, {6, 108, 170}, {26, 170, 227}, {6, 108, 170}},
    };
    for (const Theme& t : themes) {
        SCOPED_TRACE(t.theme);
        auto view = makeView(t.theme);
        render(view);
        EXPECT_TRUE(splashColourNear(at(4, 0), t.top));
        EXPECT_TRUE(splashColourNear(at(4, 284), t.middle));
        EXPECT_TRUE(splashColourNear(at(4, 567.9f), t.bottom));
        if (t.theme == TRASplashView::ThemeAshenSky || t.theme == TRASplashView::ThemeOcean) {
            // The whole lower half is the second colour.
            for (CGFloat y : {300.0f, 400.0f, 500.0f}) EXPECT_TRUE(splashColourNear(at(310, y), t.bottom));
            // Halfway up the upper half, halfway between the colours.
            SplashRGB half{(t.top.r + t.middle.r) / 2, (t.top.g + t.middle.g) / 2, (t.top.b + t.middle.b) / 2};
            EXPECT_TRUE(splashColourNear(at(4, 142), half, 3));
        }
    }
}

TEST_F(TRASplashViewTest, SkyIsInnerColourWithinEightyPointsAndOuterBeyondThreeHundredTwenty) {
    auto view = makeView(TRASplashView::ThemeSky);
    render(view);
    const SplashRGB inner{241, 241, 241}, outer{163, 212, 229};
    // Around the centre (160, 284), clear of the icon, name and indicator.
    EXPECT_TRUE(splashColourNear(at(100, 324), inner));
    EXPECT_TRUE(splashColourNear(at(215, 330), inner));
    // The corners lie more than 320 points from the centre.
    EXPECT_TRUE(splashColourNear(at(1, 1), outer));
    EXPECT_TRUE(splashColourNear(at(319, 567), outer));
    // Between the radii it shades: at 160 points (half-way) the mix.
    EXPECT_TRUE(splashColourNear(at(0.5f, 284), {202, 226, 235}, 3));
    EXPECT_TRUE(view->appNameLabel()->textColor()->isEqual(*UIColor::colorWithRed(51 / 255.0f, 51 / 255.0f, 51 / 255.0f, 1)));
}

TEST_F(TRASplashViewTest, GloomyIsOnePlainColourWithItsTextColours) {
    auto view = makeView(TRASplashView::ThemeGloomy);
    render(view);
    for (auto [x, y] : {std::pair<CGFloat, CGFloat>{0, 0}, {319, 0}, {20, 300}, {300, 500}, {319, 567}})
        EXPECT_TRUE(splashColourNear(at(x, y), {47, 53, 63}, 0));
    EXPECT_TRUE(view->appNameLabel()->textColor()->isEqual(
        *UIColor::colorWithRed(51 / 255.0f, 181 / 255.0f, 229 / 255.0f, 1)));
    EXPECT_TRUE(view->loadingLabel()->textColor()->isEqual(
        *UIColor::colorWithRed(122 / 255.0f, 130 / 255.0f, 139 / 255.0f, 1)));
    // The painter fills once and leaves its saved state.
    auto ops = view->lastDrawOperations();
    ASSERT_GE(ops.size(), 2u);
    EXPECT_EQ(ops.back().name, "CGContextFillRect");
    EXPECT_EQ(ops.back().arguments, (std::vector<CGFloat>{0, 0, 320, 568}));
}

TEST_F(TRASplashViewTest, PortraitLayoutOnAPhone) {
    auto view = makeView(TRASplashView::ThemeDeepBlue);
    render(view);
    // Name and loading text as wide as their fonts measure them, centred on the view.
    auto expectCentredText = [](const Ref<UILabel>& label, CGFloat size, CGFloat top, CGFloat height) {
        CGRect frame = label->frame();
        EXPECT_EQ(frame.size, CGSizeMake(UIFont::systemFontOfSize(size)->widthOfText(*label->text()), height));
        EXPECT_FLOAT_EQ(CGRectGetMidX(frame), 160);
        EXPECT_EQ(frame.origin.y, top);
    };
    EXPECT_EQ(view->appNameLabel()->text(), "Paranormal Detector");
    expectCentredText(view->appNameLabel(), 18, 273, 22);
    // The whole name, wider than 0.5 em a character, still fits the screen.
    EXPECT_GT(view->appNameLabel()->frame().size.width, 171);
    EXPECT_LT(view->appNameLabel()->frame().size.width, 300);
    // The icon's lower edge lies the name's height above the centre line.
    EXPECT_EQ(view->iconImageView()->frame(), CGRectMake(106, 154, 108, 108));
    EXPECT_EQ(view->iconImageView()->layer()->cornerRadius(), 16.875f);
    EXPECT_TRUE(view->iconImageView()->layer()->masksToBounds());
    ASSERT_TRUE(view->loadingActivityIndicator());
    EXPECT_EQ(view->loadingActivityIndicator()->frame(), CGRectMake(141.5f, 324.5f, 37, 37));
    EXPECT_TRUE(view->loadingActivityIndicator()->isAnimating());
    expectCentredText(view->loadingLabel(), 16, 371.5f, 20);
    EXPECT_EQ(view->autoresizingMask(), UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    // White name text and the theme's grey for the label.
    EXPECT_TRUE(view->appNameLabel()->textColor()->isEqual(*UIColor::colorWithRed(1, 1, 1, 1)));
}

TEST_F(TRASplashViewTest, DotsIndicatorShowsTheLoadingPage) {
    installLoadingPage();
    auto view = makeView(TRASplashView::ThemeDeepBlue);
    view->setSplashLoadingIndicatorType(1);
    view->displayNow(1);
    ASSERT_TRUE(view->loadingWebView());
    EXPECT_EQ(view->loadingWebView()->superview(), view);
    EXPECT_FALSE(view->loadingActivityIndicator());
    EXPECT_EQ(view->loadingWebView()->frame(), CGRectMake(88, 284 + 22 + 18 - 9, 144, 18));
    EXPECT_EQ(view->loadingWebView()->autoresizingMask(), 45u);
    driver().drain();
    ASSERT_TRUE(view->loadingWebView()->request());
    EXPECT_TRUE(NSString::hasSuffix(view->loadingWebView()->request()->URL()->absoluteString(),
                                    "Trillium.bundle/loading.html"));
}

TEST_F(TRASplashViewTest, MissingLoadingPageFallsBackToTheSpinnerForGood) {
    expectLogLine("The \"loading\" page is missing");
    auto view = makeView(TRASplashView::ThemeDeepBlue);
    view->setSplashLoadingIndicatorType(1);
    view->displayNow(1);
    EXPECT_EQ(view->splashLoadingIndicatorType(), 0);
    ASSERT_TRUE(view->loadingWebView());
    EXPECT_FALSE(view->loadingWebView()->superview());
    ASSERT_TRUE(view->loadingActivityIndicator());
    auto spinner = view->loadingActivityIndicator();
    auto webView = view->loadingWebView();
    // Later redraws keep the spinner and make nothing new.
    view->displayNow(1);
    EXPECT_EQ(view->loadingActivityIndicator(), spinner);
    EXPECT_EQ(view->loadingWebView(), webView);
    EXPECT_EQ(spinner->center(), CGPointMake(160, 284 + 22 + 37));
}

TEST_F(TRASplashViewTest, ThemesMatchTheirReferenceSnapshots) {
    using platform::testing::SnapshotComparison;
    // Scale 1 keeps the committed references small.
    profile().screenScale = 1;
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(108, 108), true, 1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), 0.85f, 0.2f, 0.45f, 1);
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 108, 108));
    Ref<UIImage> icon = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    const char* names[] = {"deepblue", "sky", "ashensky", "blaze", "gloomy", "ocean"};
    for (int64_t theme = 0; theme < 6; ++theme) {
        auto view = makeView(theme);
        view->iconImageView()->setImage(icon);
        EXPECT_TRUE(SnapshotComparison::viewMatchesReference(
            view, std::string("Trillium/display/tests/data/splash_") + names[theme] + "_phone.png", home()));
    }
    profile().idiom = 1;
    auto tablet = makeView(TRASplashView::ThemeSky, CGRectMake(0, 0, 768, 1024));
    tablet->iconImageView()->setImage(icon);
    EXPECT_TRUE(
        SnapshotComparison::viewMatchesReference(tablet, "Trillium/display/tests/data/splash_sky_tablet.png", home()));
    EXPECT_EQ(tablet->iconImageView()->frame().size, CGSizeMake(200, 200));
    EXPECT_EQ(tablet->iconImageView()->layer()->cornerRadius(), 31.25f);
}
