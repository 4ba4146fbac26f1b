// The splash screen controller's native screens: launch-image family and
// name by device, orientation and screen height (table), the fall-back to the
// template screen, the icon search (table), the loading indicators and the
// orientation answers; each against images and Info.plist values put into
// the test's bundle, presented over the key window's root controller.
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/display/tests/TrilliumSplashTestSupport.h"

using Family = TRASplashViewController::LaunchImageFamily;

class TRASplashViewControllerTest : public TrilliumSplashTest {
protected:
    Ref<TRASplashViewController> present(const Ref<TRASplashPreferences>& prefs) {
        auto controller = TRASplashViewController::alloc()->init();
        controller->setSplashPreferences(prefs);
        rootViewController()->presentViewController(controller, false, nullptr);
        driver().drain();
        return controller;
    }
    Ref<TRASplashViewController> presentMode(int64_t mode) {
        auto prefs = preferences();
        prefs->setSplashMode(mode);
        return present(prefs);
    }
};

TEST_F(TRASplashViewControllerTest, LaunchImageNameByFamilyDeviceOrientationAndHeight) {
    struct Case {
        Family family;
        bool tablet;
        UIInterfaceOrientation orientation;
        CGFloat height;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {Family::Default, false, 1, 568, "Default-568h"},
        {Family::Default, false, 3, 568, "Default-568h"},
        {Family::Default, false, 1, 480, "Default"},
        {Family::Default, false, 1, 667, "Default"},
        {Family::Default, true, 1, 1024, "Default-Portrait"},
        {Family::Default, true, 2, 1024, "Default-Portrait"},
        {Family::Default, true, 3, 768, "Default-Landscape"},
        {Family::Default, true, 4, 768, "Default-Landscape"},
        {Family::Default, true, 0, 1024, std::nullopt},
        {Family::LaunchImage, false, 1, 568, "LaunchImage-568h"},
        {Family::LaunchImage, false, 1, 320, "LaunchImage"},
        {Family::LaunchImage, true, 4, 768, "LaunchImage-Landscape"},
        {Family::LaunchImage, true, 0, 768, std::nullopt},
        {Family::LaunchImage700, false, 1, 568, "LaunchImage-700-568h"},
        {Family::LaunchImage700, false, 1, 480, "LaunchImage-700"},
        {Family::LaunchImage700, true, 2, 1024, "LaunchImage-700-Portrait"},
        {Family::LaunchImage700, true, 3, 768, "LaunchImage-700-Landscape"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TRASplashViewController::launchImageName(c.family, c.tablet, c.orientation, c.height), c.name)
            << (&c - cases);
}

TEST_F(TRASplashViewControllerTest, PhoneAtFiveSixtyEightShowsTheTallDefaultImageOnce) {
    writeImage("Default-568h@2x.png", 640, 1136);
    auto controller = presentMode(1);
    ASSERT_TRUE(controller->splashImageView());
    EXPECT_EQ(controller->currentLaunchImage(), "Default-568h");
    ASSERT_TRUE(controller->splashImageView()->image());
    EXPECT_EQ(controller->splashImageView()->image()->size(), CGSizeMake(320, 568));
    EXPECT_EQ(controller->splashImageView()->superview(), controller->originalSplashView());
    // Another orientation query with the same name changes nothing.
    auto marker = UIImage::imageWithCGImage(controller->splashImageView()->image()->CGImage());
    controller->splashImageView()->setImage(marker);
    EXPECT_FALSE(controller->shouldAutorotate());
    EXPECT_EQ(controller->splashImageView()->image(), marker);
}

// One case per test (and so per process): named images are cached process-wide.
struct TRASplashLaunchImageCase {
    const char* name;
    std::vector<std::string> files;
    std::string systemVersion;
    std::optional<std::string> shown;  // nullopt: the template screen replaced the image
    int idiom = 0;
    UIInterfaceOrientation orientation = UIInterfaceOrientationPortrait;
};

void PrintTo(const TRASplashLaunchImageCase& c, std::ostream* os) { *os << c.name; }

class TRASplashLaunchImageTest : public TRASplashViewControllerTest,
                                 public ::testing::WithParamInterface<TRASplashLaunchImageCase> {};

TEST_P(TRASplashLaunchImageTest, FamilyDecidesTheNameOrTheTemplateStandsIn) {
    const TRASplashLaunchImageCase& c = GetParam();
    profile().systemVersion = c.systemVersion;
    profile().idiom = c.idiom;
    for (const std::string& file : c.files) {
        if (NSString::hasPrefix(file, "broken:")) writeUndecodableImage(file.substr(7));
        else writeImage(file, 640, 1136);
    }
    UIApplication::sharedApplication()->simulateStatusBarOrientation(c.orientation);
    auto controller = presentMode(1);
    if (c.shown) {
        EXPECT_EQ(controller->currentLaunchImage(), c.shown);
        EXPECT_TRUE(controller->splashImageView()->image());
        EXPECT_EQ(controller->splashPreferences()->splashMode(), 1);
    } else {
        EXPECT_EQ(controller->splashPreferences()->splashMode(), 2);
        ASSERT_TRUE(controller->templateSplashView());
        EXPECT_EQ(controller->templateSplashView()->superview(), controller->view());
        EXPECT_FALSE(controller->originalSplashView()->superview());
        EXPECT_EQ(controller->templateSplashView()->appNameLabel()->text(), "Paranormal Detector");
        EXPECT_EQ(controller->templateSplashView()->loadingLabel()->text(), "Loading...");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Families, TRASplashLaunchImageTest,
    ::testing::Values(
        TRASplashLaunchImageCase{"LaunchImageFromSeven", {"LaunchImage@2x.png", "LaunchImage-700-568h@2x.png"}, "9.0",
                                 "LaunchImage-700-568h"},
        TRASplashLaunchImageCase{"LaunchImage700", {"LaunchImage-700@2x.png", "LaunchImage-700-568h@2x.png"}, "9.0",
                                 "LaunchImage-700-568h"},
        // Before 7.0 "LaunchImage" keeps its own family, and the image is set when the view loads.
        TRASplashLaunchImageCase{"LaunchImageBeforeSeven", {"LaunchImage@2x.png", "LaunchImage-568h@2x.png"}, "6.1",
                                 "LaunchImage-568h"},
        // A family is found but the chosen name does not load.
        TRASplashLaunchImageCase{"ChosenNameMissing", {"Default@2x.png"}, "9.0", std::nullopt},
        TRASplashLaunchImageCase{"NoLaunchImage", {}, "9.0", std::nullopt},
        TRASplashLaunchImageCase{"UndecodableChosenImage", {"Default@2x.png", "broken:Default-568h@2x.png"}, "9.0",
                                 std::nullopt},
        TRASplashLaunchImageCase{"TabletPortrait", {"Default-Portrait~ipad.png", "Default-Portrait@2x~ipad.png"}, "9.0",
                                 "Default-Portrait", 1},
        // A status bar that reports none of the four orientations gives no name.
        TRASplashLaunchImageCase{"TabletWithoutOrientation", {"Default-Portrait~ipad.png"}, "9.0", std::nullopt, 1,
                                 UIInterfaceOrientationUnknown}),
    [](const ::testing::TestParamInfo<TRASplashLaunchImageCase>& info) { return std::string(info.param.name); });

TEST_F(TRASplashViewControllerTest, NamedImageWinsAndAMissingOneFallsBackToTheLaunchImage) {
    writeImage("Default-568h@2x.png", 640, 1136);
    writeImage("PublisherSplash@2x.png", 640, 1136, 0.9f, 0.1f, 0.1f);
    auto prefs = preferences();
    prefs->setSplashUserDefinedImageName(std::string("PublisherSplash"));
    auto controller = present(prefs);
    EXPECT_EQ(controller->currentLaunchImage(), "PublisherSplash");
    EXPECT_EQ(controller->splashImageView()->image(), UIImage::imageNamed("PublisherSplash"));

    expectLogLine("Splash image \"Missing\" not found");
    prefs = preferences();
    prefs->setSplashUserDefinedImageName(std::string("Missing"));
    rootViewController()->dismissViewControllerAnimated(false, nullptr);
    driver().drain();
    controller = present(prefs);
    EXPECT_EQ(controller->currentLaunchImage(), "Default-568h");
    EXPECT_EQ(prefs->splashMode(), 1);
    // Asked again, the missing name is not tried again (one log line).
    controller->shouldAutorotate();
    EXPECT_EQ(logCapture().count("Splash image \"Missing\" not found"), 1u);
}

TEST_F(TRASplashViewControllerTest, ModeOutsideOneAndTwoShowsNothing) {
    auto controller = presentMode(3);
    EXPECT_TRUE(controller->view()->subviews().empty());
    EXPECT_FALSE(controller->shouldAutorotate());
    EXPECT_EQ(controller->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
}

TEST_F(TRASplashViewControllerTest, IconSearchByListWidthDeviceAndWrapper) {
    struct Case {
        int idiom;
        std::string version;
        Value iconFiles;                       // Null: no "CFBundleIcons" at all
        std::vector<std::pair<std::string, int>> files;  // file name, pixel width (scale 2)
        std::optional<std::string> expected;   // the image the search must return
        std::string wrapper;                   // "", "unity" or "corona"
    };
    const Case cases[] = {
        {0, "9.0", Value(), {{"AppIcon60x60@2x.png", 120}}, "AppIcon60x60", ""},
        {0, "9.0", Value::array({"AppIcon60x60"}), {}, "AppIcon60x60", ""},
        {0, "9.0", Value::array({}), {}, "AppIcon60x60", ""},
        {0, "9.0", Value::array({"IconA57", "IconA60", "IconA60b"}),
         {{"IconA57@2x.png", 114}, {"IconA60@2x.png", 120}, {"IconA60b@2x.png", 120}}, "IconA60", ""},
        {1, "9.0", Value::array({"IconB60", "IconB76"}), {{"IconB60@2x.png", 120}, {"IconB76@2x.png", 152}},
         "IconB76", ""},
        {1, "6.1", Value::array({"IconE76", "IconE72"}), {{"IconE76@2x.png", 152}, {"IconE72@2x.png", 144}},
         "IconE72", ""},
        {0, "6.1", Value::array({"IconC60", "IconC57"}), {{"IconC60@2x.png", 120}, {"IconC57@2x.png", 114}},
         "IconC57", ""},
        {0, "9.0", Value::array({"IconD40"}), {{"IconD40@2x.png", 80}}, std::nullopt, ""},
        {0, "9.0", Value::array({"IconD40"}), {{"AppIcon57x57@2x.png", 114}}, "AppIcon57x57", "unity"},
        {0, "9.0", Value::array({"IconD40"}), {{"Icon-60@2x.png", 120}, {"Icon@2x.png", 114}}, "Icon-60", "corona"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        profile().idiom = c.idiom;
        profile().systemVersion = c.version;
        auto sdk = TRATrilliumSDK::sharedInstance();
        sdk->setIsUnityEnvironment(c.wrapper == "unity");
        sdk->setIsCoronaEnvironment(c.wrapper == "corona");
        for (const auto& [file, width] : c.files) writeImage(file, width, width);
        setInfo("CFBundleIcons", c.iconFiles.isNull() ? Value()
                                                      : Value::dictionary({{"CFBundlePrimaryIcon",
                                                                            Value::dictionary({{"CFBundleIconFiles",
                                                                                                c.iconFiles}})}}));
        auto controller = TRASplashViewController::alloc()->init();
        controller->setSplashPreferences(preferences());
        Ref<UIImage> icon = controller->findCurrentIcon();
        if (c.expected) EXPECT_EQ(icon, UIImage::imageNamed(*c.expected));
        else EXPECT_FALSE(icon);
    }
}

TEST_F(TRASplashViewControllerTest, UndecodableIconAndANameOfTheWrongKindLeaveTheTemplateWithout) {
    writeUndecodableImage("AppIcon60x60@2x.png");
    expectLogLine("\"CFBundleDisplayName\" is not a string");
    setInfo("CFBundleDisplayName", Value(42));
    auto controller = presentMode(2);
    ASSERT_TRUE(controller->templateSplashView());
    EXPECT_FALSE(controller->templateSplashView()->iconImageView()->image());
    EXPECT_EQ(controller->templateSplashView()->appNameLabel()->text(), "");
    EXPECT_TRUE(NSString::containsString(controller->getHtml(), "splash_imageUrl = \"#splash_imageUrl#\""));
}

TEST_F(TRASplashViewControllerTest, IconListsOfTheWrongKindCountAsAbsent) {
    writeImage("AppIcon60x60@2x.png", 120, 120);
    expectLogLine("\"CFBundleIcons\" is not a dictionary");
    expectLogLine("\"CFBundleIconFiles\" is not an array");
    auto controller = TRASplashViewController::alloc()->init();
    controller->setSplashPreferences(preferences());
    setInfo("CFBundleIcons", Value("AppIcon"));
    EXPECT_EQ(controller->findCurrentIcon(), UIImage::imageNamed("AppIcon60x60"));
    setInfo("CFBundleIcons",
            Value::dictionary({{"CFBundlePrimaryIcon", Value::dictionary({{"CFBundleIconFiles", Value(12)}})}}));
    EXPECT_EQ(controller->findCurrentIcon(), UIImage::imageNamed("AppIcon60x60"));
}

TEST_F(TRASplashViewControllerTest, IndicatorCentreAndKindOnTheLaunchImage) {
    writeImage("Default-568h@2x.png", 640, 1136);
    const UIViewAutoresizing margins = 45;
    // Unset: centred on the screen, and kept centred.
    auto prefs = preferences();
    auto controller = present(prefs);
    ASSERT_TRUE(controller->activityIndicatorView());
    EXPECT_EQ(controller->activityIndicatorView()->center(), CGPointMake(160, 284));
    EXPECT_EQ(controller->activityIndicatorView()->autoresizingMask(), margins);
    EXPECT_EQ(prefs->splashLoadingIndicatorCenterPoint(), CGPointMake(160, 284));
    EXPECT_TRUE(controller->activityIndicatorView()->isAnimating());

    auto build = [&](CGPoint centre, int64_t type, bool enabled) {
        auto p = preferences();
        p->setSplashLoadingIndicatorCenterPoint(centre);
        p->setSplashLoadingIndicatorType(type);
        p->setIsSplashLoadingIndicatorEnabled(enabled);
        auto c = TRASplashViewController::alloc()->init();
        c->setSplashPreferences(p);
        c->view();  // loads: builds the screen
        return c;
    };
    auto explicitCentre = build(CGPointMake(160, 284), 0, true);
    EXPECT_EQ(explicitCentre->activityIndicatorView()->autoresizingMask(), margins);
    auto elsewhere = build(CGPointMake(40, 500), 0, true);
    EXPECT_EQ(elsewhere->activityIndicatorView()->center(), CGPointMake(40, 500));
    EXPECT_EQ(elsewhere->activityIndicatorView()->autoresizingMask(), 0u);
    auto off = build(CGPointMake(-1, -1), 0, false);
    EXPECT_FALSE(off->activityIndicatorView() || off->loadingWebView());

    // Dots without the page: the preferences fall back to the spinner.
    expectLogLine("The \"loading\" page is missing");
    auto noPage = build(CGPointMake(-1, -1), 1, true);
    EXPECT_EQ(noPage->splashPreferences()->splashLoadingIndicatorType(), 0);
    EXPECT_TRUE(noPage->activityIndicatorView());
    EXPECT_FALSE(noPage->loadingWebView() && noPage->loadingWebView()->superview());

    installLoadingPage();
    auto dots = build(CGPointMake(-1, -1), 1, true);
    ASSERT_TRUE(dots->loadingWebView());
    EXPECT_EQ(dots->loadingWebView()->superview(), dots->originalSplashView());
    EXPECT_EQ(dots->loadingWebView()->frame(), CGRectMake(88, 275, 144, 18));
    EXPECT_EQ(dots->loadingWebView()->autoresizingMask(), margins);
    EXPECT_FALSE(dots->activityIndicatorView());
}

TEST_F(TRASplashViewControllerTest, OrientationAnswers) {
    struct Case {
        const char* name;
        int idiom;
        int64_t mode;
        bool landscape;  // the preferences' isLandscape (with a landscape-first Info.plist)
        std::string unity;  // "", "portrait", "landscape", "rotating-landscape"
        std::string version;
        UIInterfaceOrientationMask supported;
        bool autorotate;
        UIInterfaceOrientation preferred;
    };
    const Case cases[] = {
        {"phone launch image", 0, 1, false, "", "9.0", 2, false, 1},
        {"phone template", 0, 2, false, "", "9.0", 2, false, 1},
        {"phone template landscape", 0, 2, true, "", "9.0", 24, true, 3},
        {"phone other mode", 0, 3, true, "", "9.0", 24, false, 1},
        {"tablet", 1, 1, false, "", "9.0", 30, true, 1},
        {"unity portrait", 0, 2, true, "portrait", "9.0", 2, false, 1},
        {"unity landscape", 0, 1, false, "landscape", "9.0", 24, false, 1},
        {"unity landscape before 8", 0, 1, false, "landscape", "7.1", 24, false, 4},
        {"unity rotating before 8", 0, 1, false, "rotating-landscape", "7.1", 24, true, 4},
    };
    setOrientations({"UIInterfaceOrientationLandscapeRight", "UIInterfaceOrientationPortrait"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        profile().idiom = c.idiom;
        profile().systemVersion = c.version;
        auto sdk = TRATrilliumSDK::sharedInstance();
        sdk->setIsUnityEnvironment(!c.unity.empty());
        TRAAdSDKUtils::setUnitySupportedOrientationsWithInt(c.unity == "portrait" ? 0 : 1);
        TRAAdSDKUtils::setUnityAutoRotation(c.unity == "rotating-landscape" ? 2 : 0);
        auto prefs = preferences();
        prefs->setSplashMode(c.mode);
        prefs->setIsLandscape(c.landscape);
        auto controller = TRASplashViewController::alloc()->init();
        controller->setSplashPreferences(prefs);
        EXPECT_EQ(controller->supportedInterfaceOrientations(), c.supported);
        EXPECT_EQ(controller->shouldAutorotate(), c.autorotate);
        EXPECT_EQ(controller->preferredInterfaceOrientationForPresentation(), c.preferred);
    }
    profile().idiom = 0;
    auto phone = TRASplashViewController::alloc()->init();
    phone->setSplashPreferences(preferences());
    EXPECT_TRUE(phone->shouldAutorotateToInterfaceOrientation(1));
    EXPECT_FALSE(phone->shouldAutorotateToInterfaceOrientation(3));
    profile().idiom = 1;
    for (UIInterfaceOrientation o : {1, 3, 4}) EXPECT_TRUE(phone->shouldAutorotateToInterfaceOrientation(o));
    EXPECT_FALSE(phone->shouldAutorotateToInterfaceOrientation(2));
}

TEST_F(TRASplashViewControllerTest, DotsTurnWithTheFirstListedLandscapeSide) {
    installLoadingPage();
    writeImage("Default-568h@2x.png", 640, 1136);
    for (auto [first, angle] : {std::pair<const char*, float>{"UIInterfaceOrientationLandscapeLeft", 1.5707964f},
                                {"UIInterfaceOrientationLandscapeRight", -1.5707964f}}) {
        setOrientations({first, "UIInterfaceOrientationPortrait"});
        auto prefs = preferences();
        ASSERT_TRUE(prefs->isLandscape());
        prefs->setSplashLoadingIndicatorType(1);
        auto controller = TRASplashViewController::alloc()->init();
        controller->setSplashPreferences(prefs);
        controller->view();
        EXPECT_FALSE(controller->shouldAutorotate());
        EXPECT_EQ(controller->loadingWebView()->transform(), CGAffineTransformMakeRotation(angle)) << first;
    }
}

TEST_F(TRASplashViewControllerTest, StatusBarIsHiddenWhileUpAndGivenBackAsItWas) {
    auto app = UIApplication::sharedApplication();
    for (bool hiddenBefore : {false, true}) {
        app->setStatusBarHidden(hiddenBefore);
        auto controller = presentMode(2);
        EXPECT_TRUE(app->isStatusBarHidden());
        EXPECT_TRUE(controller->prefersStatusBarHidden());
        rootViewController()->dismissViewControllerAnimated(false, nullptr);
        driver().drain();
        EXPECT_EQ(app->isStatusBarHidden(), hiddenBefore);
    }
}
