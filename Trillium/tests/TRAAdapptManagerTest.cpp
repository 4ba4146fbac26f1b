// Ad rules on the session counters: per-session, per-placement and per-tag
// limits within their windows on the virtual clock, a new session clearing
// the counts, and the stored reason of the next session.
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/tests/TrilliumTestSupport.h"

namespace {

class TRAAdapptManagerTest : public TrilliumTest {
protected:
    void rules(std::string_view json) {
        ASSERT_TRUE(TRAMetadata::sharedMetadata()->applyMetadataAnswer(
            NSString::dataUsingEncoding(std::string(R"({"adPlatformHost": ")") + service.baseUrl() +
                                        R"(", "adRules": )" + std::string(json) + "}")));
    }
    static void show(const std::string& placement, const std::optional<std::string>& tag = std::nullopt) {
        if (tag) TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSessionForKey(*tag);
        TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSessionForKey(placement);
        TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSession();
    }
};

TEST_F(TRAAdapptManagerTest, WithoutRulesEveryAdIsAllowed) {
    for (int i = 0; i < 20; ++i) show("INAPP_OVERLAY");
    EXPECT_TRUE(TRAAdapptManager::getAdapptShowPlacement("INAPP_OVERLAY", std::nullopt));
    EXPECT_EQ(TRAAdapptManager::numOfTotalAdsDisplayedInCurrentSession(), 20);
    EXPECT_FALSE(TRAAdapptManager::applyAdRulesOnBannerRefresh());
}

TEST_F(TRAAdapptManagerTest, SessionPlacementAndTagLimitsEachApply) {
    rules(R"({"session": [{"maxAds": 3, "seconds": 0}],
              "placements": {"INAPP_OVERLAY": [{"maxAds": 1, "seconds": 60}]},
              "tags": {"level_end": [{"maxAds": 1, "seconds": 0}]}})");
    EXPECT_TRUE(TRAAdapptManager::getAdapptShowPlacement("INAPP_OVERLAY", std::string("level_end")));
    show("INAPP_OVERLAY", std::string("level_end"));
    EXPECT_FALSE(TRAAdapptManager::getAdapptShowPlacement("INAPP_OVERLAY", std::nullopt));  // placement: 1 per 60 s
    EXPECT_FALSE(TRAAdapptManager::getAdapptShowPlacement("INAPP_BANNER", std::string("level_end")));  // tag
    EXPECT_TRUE(TRAAdapptManager::getAdapptShowPlacement("INAPP_BANNER", std::string("")));  // empty tag: no tag
    driver().advance(59);
    EXPECT_FALSE(TRAAdapptManager::getAdapptShowPlacement("INAPP_OVERLAY", std::nullopt));
    driver().advance(1);
    EXPECT_TRUE(TRAAdapptManager::getAdapptShowPlacement("INAPP_OVERLAY", std::nullopt));
    show("INAPP_BANNER");
    show("INAPP_BANNER");
    EXPECT_FALSE(TRAAdapptManager::getAdapptShowPlacement("INAPP_BANNER", std::nullopt));  // 3 in the session
}

TEST_F(TRAAdapptManagerTest, ANewSessionClearsTheCounts) {
    rules(R"({"session": [{"maxAds": 1}]})");
    show("INAPP_OVERLAY");
    EXPECT_FALSE(TRAAdapptManager::getAdapptShowPlacement("INAPP_OVERLAY", std::nullopt));
    std::string before = TRAAdapptManager::clientSessionId();
    driver().advance(30);
    EXPECT_EQ(TRAAdapptManager::timeSinceSessionStart(), 30);
    TRAAdapptManager::beginNewSession();
    EXPECT_NE(TRAAdapptManager::clientSessionId(), before);
    EXPECT_EQ(TRAAdapptManager::timeSinceSessionStart(), 0);
    EXPECT_EQ(TRAAdapptManager::numOfTotalAdsDisplayedInCurrentSession(), 0);
    EXPECT_TRUE(TRAAdapptManager::getAdapptShowPlacement("INAPP_OVERLAY", std::nullopt));
}

TEST_F(TRAAdapptManagerTest, TheReasonOfTheNextSessionIsStored) {
    EXPECT_FALSE(TRAAdapptManager::isNewSessionPending());
    TRAAdapptManager::setNewSessionReason("APP_IDLE");
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey("TRANewSessionReason"), "APP_IDLE");
    EXPECT_TRUE(TRAAdapptManager::isNewSessionPending());
    TRAAdapptManager::beginNewSession();
    EXPECT_FALSE(TRAAdapptManager::isNewSessionPending());
    restartProcessState();
    EXPECT_EQ(TRAAdapptManager::newSessionReason(), "APP_IDLE");
}

}  // namespace
