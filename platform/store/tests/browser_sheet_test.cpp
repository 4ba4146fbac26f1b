// The browser sheet: web URLs only, presentation recorded, "Done" to the
// delegate, registered only from system version 9.0.
#include "platform/testing/PlatformTest.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/store/SFSafariViewController.h"
#include "platform/store/StoreClasses.h"
#include "platform/ui/UIApplication.h"

namespace {

using platform::testing::PlatformTest;

class Dismisser : public NSObject, public SFSafariViewControllerDelegate {
public:
    int done = 0;
    void safariViewControllerDidFinish(Ref<SFSafariViewController> controller) override {
        ++done;
        controller->dismissViewControllerAnimated(true, nullptr);
    }
};

class BrowserSheetTest : public PlatformTest {};

TEST_F(BrowserSheetTest, PresentingRecordsTheURLAndDoneReachesTheDelegate) {
    auto url = NSURL::URLWithString("https://example.com/landing?x=1");
    auto sheet = SFSafariViewController::alloc()->initWithURL(url);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->URL(), url);
    EXPECT_TRUE(SFSafariViewController::presentedURLs().empty());
    auto delegate = NSObject::alloc<Dismisser>();
    sheet->setDelegate(delegate);

    rootViewController()->presentViewController(sheet, true, nullptr);
    ASSERT_EQ(SFSafariViewController::presentedURLs().size(), 1u);
    EXPECT_EQ(SFSafariViewController::presentedURLs()[0]->absoluteString(), "https://example.com/landing?x=1");
    EXPECT_TRUE(logCapture().contains("browser sheet: https://example.com/landing?x=1"));
    driver().advance(1);

    SFSafariViewController::simulateDone(sheet);
    EXPECT_EQ(delegate->done, 1);
    driver().advance(1);
    EXPECT_FALSE(rootViewController()->presentedViewController());
}

TEST_F(BrowserSheetTest, OnlyWebURLs) {
    expectLogLine("SFSafariViewController: only http and https URLs open, not itms-apps://store.example/app");
    EXPECT_FALSE(SFSafariViewController::alloc()->initWithURL(NSURL::URLWithString("itms-apps://store.example/app")));
    expectLogLine("SFSafariViewController: only http and https URLs open, not (null)");
    EXPECT_FALSE(SFSafariViewController::alloc()->initWithURL(nullptr));
    EXPECT_TRUE(SFSafariViewController::alloc()->initWithURL(NSURL::URLWithString("HTTP://example.com")));
}

// A sheet's URL, refused or shown, and the system's open reach the log short
// and without the URL's password.
TEST_F(BrowserSheetTest, LongURLsAreLoggedByTheirStartWithoutTheirPassword) {
    expectLogLine("SFSafariViewController: only http and https URLs open, not itms-apps://***@store.example");
    EXPECT_FALSE(SFSafariViewController::alloc()->initWithURL(
        NSURL::URLWithString(hostileURL("itms-apps://store.example/app"))));
    auto url = NSURL::URLWithString(hostileURL("https://example.com/landing"));
    auto sheet = SFSafariViewController::alloc()->initWithURL(url);
    ASSERT_TRUE(sheet);
    rootViewController()->presentViewController(sheet, false, nullptr);
    EXPECT_TRUE(logCapture().contains("browser sheet: https://***@example.com/landing#fff"));
    EXPECT_TRUE(UIApplication::sharedApplication()->openURL(url));
    EXPECT_TRUE(logCapture().contains("open URL: https://***@example.com/landing#fff"));
    expectBoundedLogLines();
}

class OldSystemTest : public PlatformTest {
protected:
    void SetUp() override {
        profile().systemVersion = "8.4";
        PlatformTest::SetUp();
    }
};

TEST_F(OldSystemTest, NotRegisteredBefore9) {
    platform::registerStoreClasses();
    EXPECT_FALSE(NSClassFromString("SFSafariViewController"));
    EXPECT_TRUE(NSClassFromString("SKStoreProductViewController"));
}

}  // namespace
