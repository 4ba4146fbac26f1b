// The splash options: the validating setters against a stored configuration
// whose defaults differ from the built-in ones, the request-field dictionary,
// and the landscape answer for several Info.plist orientation lists.
#include "Trillium/display/tests/TrilliumSplashTestSupport.h"

class TRASplashPreferencesTest : public TrilliumSplashTest {
protected:
    void SetUp() override {
        TrilliumSplashTest::SetUp();
        auto defaults = NSUserDefaults::standardUserDefaults();
        defaults->setInteger(3, "TRASplashMinTime");
        defaults->setInteger(10, "TRASplashAdDisplayTime");
        defaults->setInteger(1, "TRASplashDefaultTheme");
    }
};

TEST_F(TRASplashPreferencesTest, NewPreferencesTakeTheConfigurationsDefaults) {
    auto prefs = preferences();
    EXPECT_EQ(prefs->splashMode(), 1);
    EXPECT_TRUE(prefs->isSplashLoadingIndicatorEnabled());
    EXPECT_EQ(prefs->splashLoadingIndicatorType(), 0);
    EXPECT_EQ(prefs->splashMinTime(), 3);
    EXPECT_EQ(prefs->splashAdDisplayTime(), 10);
    EXPECT_EQ(prefs->splashTemplateTheme(), 1);
    EXPECT_TRUE(CGPointEqualToPoint(prefs->splashLoadingIndicatorCenterPoint(), CGPointMake(-1, -1)));
    EXPECT_FALSE(prefs->splashUserDefinedImageName() || prefs->splashTemplateIconImageName() ||
                 prefs->splashTemplateAppName());
}

TEST_F(TRASplashPreferencesTest, SettersKeepTheirValuesAndReplaceOthersByTheConfiguration) {
    auto prefs = preferences();
    struct Case {
        int64_t value;
        int64_t minTime, displayTime, theme;  // what each setter stores
    };
    // The configuration's defaults: 3 s, 10 s, theme 1.
    const Case cases[] = {
        {2, 2, 10, 2},  {3, 3, 10, 3},        {5, 5, 5, 5},   {0, 3, 10, 0},   {4, 3, 10, 4},
        {10, 3, 10, 1}, {86400, 3, 86400, 1}, {60, 3, 10, 1}, {-1, 3, 10, 1},  {6, 3, 10, 1},
        {INT64_MIN, 3, 10, 1},
    };
    for (const Case& c : cases) {
        prefs->setSplashMinTime(c.value);
        prefs->setSplashAdDisplayTime(c.value);
        prefs->setSplashTemplateTheme(c.value);
        EXPECT_EQ(prefs->splashMinTime(), c.minTime) << c.value;
        EXPECT_EQ(prefs->splashAdDisplayTime(), c.displayTime) << c.value;
        EXPECT_EQ(prefs->splashTemplateTheme(), c.theme) << c.value;
    }
}

TEST_F(TRASplashPreferencesTest, DictionaryHoldsIntegersAndKeepsTheThemeOnceEntered) {
    auto prefs = preferences();
    Value fields = prefs->getUserSplashPreferencesDict();
    ASSERT_EQ(fields.count(), 3u);
    EXPECT_EQ(fields.keys(), (std::vector<std::string>{"splashMode", "splashMinTime", "splashAdDisplayTime"}));
    EXPECT_TRUE(fields["splashMode"].isInteger());
    EXPECT_EQ(fields["splashMinTime"].integerValue(), 3);
    EXPECT_EQ(fields["splashAdDisplayTime"].integerValue(), 10);

    prefs->setSplashMode(2);
    prefs->setSplashTemplateTheme(3);
    fields = prefs->getUserSplashPreferencesDict();
    ASSERT_EQ(fields.count(), 4u);
    EXPECT_EQ(fields["splashTemplateTheme"].integerValue(), 3);
    EXPECT_TRUE(fields["splashTemplateTheme"].isInteger());

    // Keys are only ever set: back in mode 1 the theme stays.
    prefs->setSplashMode(1);
    prefs->setSplashTemplateTheme(5);
    fields = prefs->getUserSplashPreferencesDict();
    EXPECT_EQ(fields.count(), 4u);
    EXPECT_EQ(fields["splashMode"].integerValue(), 1);
    EXPECT_EQ(fields["splashTemplateTheme"].integerValue(), 3);
}

TEST_F(TRASplashPreferencesTest, LandscapeFollowsTheApplicationsOrientations) {
    struct Case {
        std::vector<Value> entries;
        bool automatic;      // after init
        bool askLandscape;   // setIsLandscape(true)
        bool askPortrait;    // setIsLandscape(false)
    };
    const Case cases[] = {
        {{"UIInterfaceOrientationPortrait"}, false, false, false},
        {{"UIInterfaceOrientationLandscapeLeft"}, true, true, true},
        {{"UIInterfaceOrientationLandscapeRight", "UIInterfaceOrientationPortrait"}, true, true, false},
        {{"UIInterfaceOrientationPortrait", "UIInterfaceOrientationLandscapeLeft"}, false, true, false},
        {{}, false, false, false},
        // An entry of the wrong kind names nothing but is still the first; with no
        // portrait entry listed, portrait is not kept.
        {{Value(7), "UIInterfaceOrientationLandscapeRight"}, true, true, true},
    };
    for (const Case& c : cases) {
        setInfo("UISupportedInterfaceOrientations", Value(Value::Array(c.entries)));
        auto prefs = preferences();
        EXPECT_EQ(prefs->isLandscape(), c.automatic) << (&c - cases);
        prefs->setIsLandscape(true);
        EXPECT_EQ(prefs->isLandscape(), c.askLandscape) << (&c - cases);
        prefs->setIsLandscape(false);
        EXPECT_EQ(prefs->isLandscape(), c.askPortrait) << (&c - cases);
    }
}

TEST_F(TRASplashPreferencesTest, MissingOrMalformedOrientationListMeansPortrait) {
    setInfo("UISupportedInterfaceOrientations", Value());
    auto prefs = preferences();
    prefs->setIsLandscape(true);
    EXPECT_FALSE(prefs->isLandscape());
    prefs->setIsLandscape(false);
    EXPECT_FALSE(prefs->isLandscape());

    expectLogLine("\"UISupportedInterfaceOrientations\" is not an array");
    setInfo("UISupportedInterfaceOrientations", Value("UIInterfaceOrientationLandscapeLeft"));
    prefs = preferences();
    prefs->setIsLandscape(true);
    EXPECT_FALSE(prefs->isLandscape());
}
