// The native ads through TRATrilliumNativeAd against the service's native
// answers and images: the request's field and view-size tables byte for
// byte, a load during a load, failed checks, the ad rules at the first read,
// "Install" or "Open", two image completions per record with failing images,
// answers of the wrong shape, one impression per record, the click routes
// and the store sheet's close.
#include <algorithm>
#include <limits>

#include "Trillium/TRAAdapptManager.h"
#include "Trillium/display/TRANativeAdRequest.h"
#include "Trillium/display/tests/TrilliumBannerTestSupport.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/net/NetworkConditions.h"

namespace {

using platform::testing::StoreSheet;
using simulator::Answer;
using simulator::TrilliumService;

class TRANativeAdTest : public TrilliumBannerTest {
protected:
    Ref<TRATrilliumNativeAd> load(const Ref<TRANativeAdPreferences>& preferences = nullptr, bool wait = true) {
        auto native = TRATrilliumNativeAd::alloc()->init();
        size_t before = publisher->events.size();
        native->loadAdWithDelegate(publisher, preferences);
        if (wait) {
            EXPECT_TRUE(waitFor([&] { return publisher->events.size() > before; }));
        }
        return native;
    }
    static Ref<TRANativeAdPreferences> withoutImages() {
        auto preferences = TRANativeAdPreferences::alloc()->init();
        preferences->setAutoBitmapDownload(false);
        return preferences;
    }
    std::string tailFrom(const simulator::TrilliumRequest& request, const std::string& field) {
        const std::string& target = request.request.target;
        return target.substr(target.find(field));
    }
    std::vector<std::string> impressionTargets() {
        std::vector<std::string> targets;
        for (const auto& r : impressions()) targets.push_back(r.request.target.substr(0, r.request.target.find("&clientSessionId=")));
        std::sort(targets.begin(), targets.end());
        return targets;
    }
    static Ref<TRANativeAdDetails> record(const std::string& json) {
        auto value = NSJSONSerialization::JSONObjectWithData(NSString::dataUsingEncoding(json));
        return TRANativeAdDetails::alloc()->initWithDictionary(value.value_or(Value()), nullptr, nullptr);
    }
};

TEST_F(TRANativeAdTest, TheRequestCarriesTheNativeFieldsByteForByte) {
    auto user = NSObject::alloc<TRASDKPreferences>()->init();
    user->setAge(25);
    user->setGender(TRASDKPreferences::GenderMale);
    TRATrilliumSDK::sharedInstance()->setPreferences(user);
    auto preferences = withoutImages();
    preferences->setUserLocation(NSObject::alloc<TRAUserLocation>()->initWithLatitude(48.8566, 2.3522));
    preferences->setAdsNumber(3);
    preferences->setContentAd(true);
    preferences->setBitmapSize(3);
    load(preferences);

    user->setAge(0);
    user->setAgeStr(std::string("30-40"));
    user->setGender(1);
    preferences = withoutImages();
    preferences->setBitmapSize(2);
    preferences->setPrimaryImageSize(100);  // an image size makes the view the screen's
    load(preferences);

    auto requests = service.requestsTo(TrilliumService::kJsonAdsPath);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(tailFrom(requests[0], "&placement="),
              "&placement=INAPP_NATIVE&adType=6&age=25&gender=m&longitude=2.3522&latitude=48.8566&adsNumber=3"
              "&primaryImg=-1&moreImg=-1&contentAd=1&bitmapSize=3");
    EXPECT_EQ(requests[0].field("width"), "340");
    EXPECT_EQ(requests[0].field("height"), "340");
    EXPECT_EQ(tailFrom(requests[1], "&adType="),
              "&adType=6&age=30-40&gender=f&longitude=0&latitude=0&adsNumber=1&primaryImg=100&moreImg=-1"
              "&contentAd=0&bitmapSize=2");
    EXPECT_EQ(requests[1].field("width"), "320");
    EXPECT_EQ(requests[1].field("height"), "568");
}

TEST_F(TRANativeAdTest, ViewSizesFollowTheSizeClassAndRoundHalvesAwayFromZero) {
    auto native = load(withoutImages());  // the configuration is fresh now: loaders start at once
    auto sideFor = [&](int32_t bitmapSize) {
        auto preferences = TRANativeAdPreferences::alloc()->init();
        preferences->setBitmapSize(bitmapSize);
        native->loadAdWithDelegate(nullptr, preferences);
        auto request = std::dynamic_pointer_cast<TRANativeAdRequest>(native->nativeAd()->adRequest());
        return request->viewSize()->width;
    };
    EXPECT_EQ(sideFor(0), 72);
    EXPECT_EQ(sideFor(1), 100);
    EXPECT_EQ(sideFor(2), 150);
    EXPECT_EQ(sideFor(3), 340);
    EXPECT_EQ(sideFor(9), 72);
    EXPECT_EQ(sideFor(-1), 320);  // no class: the screen

    auto request = TRANativeAdRequest::alloc()->init();
    request->setViewSize(CGSizeMake(72.4f, 72.6f));
    request->fillApplicationDetails(std::string(kTestAppId), std::string(kTestDevId));
    EXPECT_EQ(request->width(), 72);
    EXPECT_EQ(request->height(), 73);
    EXPECT_NE(request->getQueryString().find("&width=72&height=73&"), std::string::npos);
    EXPECT_EQ(request->getQueryString().substr(request->getQueryString().rfind('&')), "&placement=INAPP_NATIVE");
    request->setViewSize(CGSizeMake(std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()));
    request->fillApplicationDetails(std::string(kTestAppId), std::string(kTestDevId));
    EXPECT_EQ(request->width(), 0);
    EXPECT_EQ(request->height(), 0);
}

TEST_F(TRANativeAdTest, ALoadDuringALoadIsReportedAndTheDroppedLoadersAnswerIgnored) {
    // The dropped load's failure comes back first, while the new load waits for its answer.
    service.server().route("GET", TrilliumService::kJsonAdsPath,
                           std::vector<Answer>{Answer::stall(Answer::withStatus(500)),
                                               Answer::ok(banners.nativeAnswer({banners.defaultNativeRecords()[1]}))
                                                   .after(0.5)});
    auto native = load(withoutImages(), false);
    ASSERT_TRUE(waitFor([&] { return service.server().stalledCount() == 1; }));
    auto dropped = native->nativeAd();
    native->loadAdWithDelegate(publisher, withoutImages());
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"failedLoadAd"}));
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Ad is already loading");
    service.server().releaseStalled();
    ASSERT_TRUE(waitFor([&] { return native->isReady(); }));
    EXPECT_TRUE(driver().settle(10));
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"failedLoadAd", "didLoadAd"}));
    EXPECT_NE(native->nativeAd(), dropped);
    ASSERT_EQ(native->adsDetails().size(), 1u);
    EXPECT_EQ(native->adsDetails()[0]->adId(), "native2");
}

TEST_F(TRANativeAdTest, ALoadRefusedForNoNetworkStillDropsTheLoadUnderWay) {
    service.server().route("GET", TrilliumService::kJsonAdsPath,
                           Answer::stall(Answer::ok(banners.nativeAnswer(banners.defaultNativeRecords()))));
    auto native = load(withoutImages(), false);
    ASSERT_TRUE(waitFor([&] { return service.server().stalledCount() == 1; }));
    platform::testing::NetworkConditions::set(NetworkState::None);
    native->loadAdWithDelegate(publisher, withoutImages());
    platform::testing::NetworkConditions::set(NetworkState::WiFi);
    service.server().releaseStalled();
    EXPECT_TRUE(driver().settle(10));
    // The first load's answer came after the second was refused: not its answer.
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"failedLoadAd", "failedLoadAd"}));
    EXPECT_EQ(publisher->lastError->localizedDescription(), "No internet connection.");
    EXPECT_FALSE(native->isReady());
    EXPECT_TRUE(native->adsDetails().empty());
}

TEST_F(TRANativeAdTest, FailedChecksEndTheLoad) {
    TRATrilliumSDK::sharedInstance()->setAppID(std::string());
    expectLogLine("Application ID is nil or empty.");
    load(withoutImages());
    TRATrilliumSDK::sharedInstance()->setAppID(std::string(kTestAppId));
    platform::testing::NetworkConditions::set(NetworkState::None);
    auto native = load(withoutImages());
    EXPECT_FALSE(native->isLoading());
    EXPECT_EQ(publisher->lastError->localizedDescription(), "No internet connection.");
    platform::testing::NetworkConditions::set(NetworkState::WiFi);
    native->loadAdWithDelegate(publisher, withoutImages());
    ASSERT_TRUE(waitFor([&] { return publisher->events.size() == 3; }));
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"failedLoadAd", "failedLoadAd", "didLoadAd"}));
}

TEST_F(TRANativeAdTest, ADenialAtTheFirstReadReportsAndSendsTheRecordsAsNotShown) {
    setConfigFields("\"adRules\": {\"placements\": {\"INAPP_NATIVE\": [{\"maxAds\": 0, \"seconds\": 0}]}}");
    auto native = load(withoutImages());
    native->setAdTag(std::string("level_end"));
    EXPECT_TRUE(native->adsDetails().empty());
    EXPECT_TRUE(native->adsDetails().empty());  // judged once per load
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didLoadAd", "failedShowAd"}));
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Ad Rules");
    EXPECT_EQ(impressionTargets(),
              (std::vector<std::string>{
                  "/1.3/trackimpression?d=native1&adTag=level_end&offset=0&isShown=false&reason=AD_RULES",
                  "/1.3/trackimpression?d=native2&adTag=level_end&offset=0&isShown=false&reason=AD_RULES",
                  "/1.3/trackimpression?d=native3&adTag=level_end&offset=0&isShown=false&reason=AD_RULES"}));
}

TEST_F(TRANativeAdTest, AReadBeforeTheAnswerUsesUpTheCheckAndCountsOnce) {
    auto native = load(withoutImages(), false);
    EXPECT_TRUE(native->adsDetails().empty());
    ASSERT_TRUE(waitFor([&] { return native->isReady(); }));
    EXPECT_EQ(native->adsDetails().size(), 3u);
    EXPECT_EQ(TRAAdapptManager::numOfAdsDisplayedForKey("INAPP_NATIVE"), 1);
    EXPECT_EQ(TRAAdapptManager::numOfTotalAdsDisplayedInCurrentSession(), 1);
}

TEST_F(TRANativeAdTest, InstallOrOpenFollowsAppAndPackageName) {
    EXPECT_EQ(record(R"({"app": null, "packageName": ""})")->clickToInstall(), "Open");
    EXPECT_EQ(record(R"({"app": null, "packageName": null})")->clickToInstall(), "Open");
    EXPECT_EQ(record(R"({"app": null, "packageName": "com.example.game"})")->clickToInstall(), "Install");
    EXPECT_EQ(record(R"({"app": null})")->clickToInstall(), "Install");
    EXPECT_EQ(record(R"({"app": 1})")->clickToInstall(), "Install");
    EXPECT_EQ(record(R"({"app": true})")->clickToInstall(), "Install");
    EXPECT_EQ(record(R"({"app": 0})")->clickToInstall(), "Open");
    EXPECT_EQ(record(R"({})")->clickToInstall(), "Open");
    EXPECT_EQ(record(R"({"app": "yes"})")->clickToInstall(), "Open");
    EXPECT_EQ(record("[]"), nullptr);
    auto info = record("{}");
    ASSERT_TRUE(info->policyImagePath());
    EXPECT_EQ(info->policyImagePath()->substr(info->policyImagePath()->rfind('/')), "/info_I.png");
    EXPECT_EQ(info->policyImageUrl(), "http://www.trillium.invalid/adinfo.png");
}

TEST_F(TRANativeAdTest, TheLoadWaitsForTwoImageCompletionsPerRecordFailuresIncluded) {
    auto native = load();
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didLoadAd"}));
    EXPECT_EQ(native->nativeAd()->imagesLoadedNum(), 6);
    EXPECT_EQ(banners.imageRequests().size(), 5u);  // native3 names no secondary image
    auto records = native->adsDetails();
    ASSERT_EQ(records.size(), 3u);
    ASSERT_NE(records[0]->imageBitmap(), nullptr);
    EXPECT_EQ(records[0]->imageBitmap()->size(), CGSizeMake(72, 72));
    ASSERT_NE(records[0]->secondaryImageBitmap(), nullptr);
    EXPECT_EQ(records[0]->secondaryImageBitmap()->size(), CGSizeMake(340, 180));
    EXPECT_NE(records[1]->imageBitmap(), nullptr);
    EXPECT_EQ(records[1]->secondaryImageBitmap(), nullptr);  // 404
    EXPECT_EQ(records[2]->imageBitmap(), nullptr);           // not a picture
    EXPECT_EQ(records[2]->secondaryImageBitmap(), nullptr);

    load(withoutImages());
    EXPECT_EQ(banners.imageRequests().size(), 5u);
}

TEST_F(TRANativeAdTest, AnswersOfTheWrongShapeAreCheckedNotTrusted) {
    service.setJsonAds(R"({"adsDetails": {"title": "not a list"}})");
    load(withoutImages());
    EXPECT_EQ(publisher->events.back(), "failedLoadAd");
    EXPECT_EQ(publisher->lastError, nullptr);
    service.setJsonAds(R"([{"title": "an array at the top"}])");
    load(withoutImages());
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Ad answer is not a JSON object");

    std::string huge(1024 * 1024, 'u');
    service.setJsonAds(R"({"adsDetails": [null, 5, "x", [], {"adId": "ok", "title": 5, "clickUrl": ["u"], "rating": "high",)"
                       R"( "smartRedirect": "yes", "description": "fine", "trackingUrl": "http://127.0.0.1:9/)" + huge + R"("}]})");
    auto native = load();  // one record, two image completions without URLs
    ASSERT_EQ(publisher->events.back(), "didLoadAd");
    auto records = native->adsDetails();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->adId(), "ok");
    EXPECT_EQ(records[0]->descriptionText(), "fine");
    EXPECT_EQ(records[0]->title(), std::nullopt);
    EXPECT_EQ(records[0]->clickUrl(), std::nullopt);
    EXPECT_EQ(records[0]->rating(), std::nullopt);
    EXPECT_EQ(records[0]->trackingUrl(), std::nullopt);
    EXPECT_FALSE(records[0]->smartRedirect());
    // Without their URLs the record sends no impression and follows no click.
    records[0]->sendImpression();
    records[0]->sendClick();
    EXPECT_TRUE(impressions().empty());
    EXPECT_TRUE(clickReports().empty());
    EXPECT_TRUE(openedURLs().empty());
}

TEST_F(TRANativeAdTest, EachRecordSendsOneImpressionWithTheTag) {
    auto native = load(withoutImages());
    native->setAdTag(std::string("level_end"));
    auto records = native->adsDetails();
    records[0]->sendImpression();
    records[0]->sendImpression();
    native->setAdTag(std::string());
    records[1]->sendImpression();
    auto sent = impressions();
    ASSERT_EQ(sent.size(), 2u);
    std::sort(sent.begin(), sent.end(), [](const auto& a, const auto& b) { return a.field("d") < b.field("d"); });
    EXPECT_EQ(sent[0].field("adTag"), "level_end");
    EXPECT_EQ(sent[0].field("adTagEnc"), "bGV2ZWxfZW5k");
    EXPECT_EQ(sent[1].field("adTag"), std::nullopt);
    EXPECT_TRUE(TrilliumService::signatureMatches(sent[0], kTestDevId, kTestAppId));
}

TEST_F(TRANativeAdTest, ClicksGoByTheTwoClickRuleToTheBrowserTheFollowerOrTheSystem) {
    auto records = banners.defaultNativeRecords();
    records[1].trilliumBrowserEnabled = false;
    records[2].smartRedirect = true;
    records[2].clickUrl = chains.chainUrl("redirects", "d=native3");
    banners.setNativeRecords(records);
    auto native = load(withoutImages());
    auto details = native->adsDetails();

    details[0]->sendClick();
    ASSERT_NE(browser(), nullptr);
    EXPECT_EQ(browser()->webViewURL(), records[0].clickUrl);
    browser()->dismissViewControllerAnimated(false, nullptr);
    driver().drain();

    details[2]->sendClick();
    ASSERT_NE(TRASmartRedirectWebView::currentWalk(), nullptr);
    driver().advance(10);  // ends in the in-app browser on the landing page
    ASSERT_NE(browser(), nullptr);
    browser()->dismissViewControllerAnimated(false, nullptr);
    driver().drain();

    setSwitch("TRADisableTwoClicks", 1);
    details[1]->sendClick();
    std::vector<std::string> reported;
    for (const auto& r : clickReports()) reported.push_back(r.field("d").value_or(""));
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported, (std::vector<std::string>{"native1", "native3"}));
    auto opened = openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].substr(0, records[1].clickUrl.size() + 4), records[1].clickUrl + "&ts=");
    std::vector<std::string> walkDs;
    for (const auto& e : analyticsEvents())
        if (e.category == "3") walkDs.push_back(e.d.value_or(""));
    EXPECT_EQ(walkDs, (std::vector<std::string>{"native3"}));  // the walk's d from its click report
}

TEST_F(TRANativeAdTest, AStoreSheetOpenedByARecordTellsThePublisherWhenItCloses) {
    auto records = banners.defaultNativeRecords();
    records[0].smartRedirect = true;
    records[0].clickUrl = chains.chainUrl("storeweb", "d=native1");
    banners.setNativeRecords(records);
    auto native = load(withoutImages());
    setSwitch("TRAInAppStoreEnabled", 1);  // after the configuration came
    StoreSheet::setNextResult(StoreSheet::Loads);
    native->adsDetails()[0]->sendClick();
    ASSERT_TRUE(waitFor([&] { return storeSheet() != nullptr; }));
    StoreSheet::simulateUserClose(storeSheet());
    driver().advance(1);
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didLoadAd", "didCloseInAppStore"}));
}

}  // namespace
