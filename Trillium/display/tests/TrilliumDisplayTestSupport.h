// The display-side tests' fixture: the core's Trillium fixture (service on
// loopback, identifiers, recording fakes) with the display classes plugged
// in, so that the entry point brings the real lifecycle manager into being
// and the ad cache loads real full-screen ads.
#pragma once

#include "Trillium/TRADisplayHooks.h"
#include "Trillium/display/TRAEventAdManager.h"
#include "Trillium/display/TrilliumDisplayClasses.h"
#include "Trillium/tests/TrilliumTestSupport.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/ui/UIApplication.h"

class TrilliumDisplayTest : public TrilliumTest {
protected:
    void SetUp() override {
        // The entry point is made inside the core fixture's set-up; the
        // manager's slot must be filled before that.
        TRADisplayHooks::shared().eventAdManager = [] {
            return std::static_pointer_cast<TRAEventAdManaging>(TRAEventAdManager::sharedInstance());
        };
        TrilliumTest::SetUp();
        registerTrilliumDisplayClasses();
        manager = TRAEventAdManager::sharedInstance();
        TRADisplayHooks::shared().adScreen = [this](bool video) -> Ref<TRAAdScreen> {
            auto screen = NSObject::alloc<FakeAdScreen>();
            screen->video = video;
            screens.push_back(screen);
            return screen;
        };
    }

    // As the application: its launch method, then the launch notification.
    void launch() { UIApplication::sharedApplication()->simulateLaunch(nullptr); }
    // Lets every request of the step reach the service and its answer return.
    void settle() { ASSERT_TRUE(driver().settle(10)); }
    // A class of another ad client, as if it were linked.
    static void linkClass(const std::string& name) { NSClassRegistry::add(name, nullptr); }

    std::vector<simulator::TrilliumRequest> htmlAdRequestsFor(const std::string& placement) const {
        std::vector<simulator::TrilliumRequest> list;
        for (auto& r : service.requestsTo(simulator::TrilliumService::kHtmlAdPath))
            if (r.field("placement") == placement) list.push_back(r);
        return list;
    }

    Ref<TRAEventAdManager> manager;
    std::vector<Ref<FakeAdScreen>> screens;
};
