// The MRAID 2.0 interface of template creatives, the global "mraid": the
// ad's state and placement, the expand, resize, orientation and supports
// tables, the page's queries about the device, expand and close (carried out
// by its expand view controller), picture storing (by its picture manager),
// and the events "ready", "stateChange", "viewableChange", "sizeChange" and
// "error". Every refused call reaches the page as an "error" event with a
// message and the action, and is logged. A second expand or close before the
// first has taken effect is judged by the state the first leads to, so a
// container is never detached twice. A two-part expansion's page gets a
// bridge of its own that starts "expanded" and closes the expansion. Main
// thread (page script calls it there).
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/NSURL.h"
#include "platform/ui/CGGeometry.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "tamarind/TMATBaseBridge.h"

class TMATMraidExpandViewController;
class TMATMraidPictureManager;

enum TMATMraidState : int {
    TMATMraidStateLoading = 0,
    TMATMraidStateDefault = 1,
    TMATMraidStateExpanded = 2,
    TMATMraidStateResized = 3,
    TMATMraidStateHidden = 4,
};

// 1 is an interstitial; any other value is inline.
inline constexpr int TMATMraidPlacementTypeInterstitial = 1;

// The methods the page sees on "mraid", in declaration order. Arguments of
// the wrong type are refused with an "error" event naming the method.
class TMATMraidBridgeExport : public JSExport {
public:
    virtual bool addEvent(const std::string& event, const JSValue& listener) = 0;
    virtual bool removeEvent(const std::string& event, const JSValue& listener) = 0;
    virtual void close() = 0;
    // A URL (neither undefined nor null) asks for a two-part expansion.
    virtual void expand(const JSValue& url) = 0;
    virtual std::string getPlacementType() = 0;
    virtual std::string getState() = 0;
    virtual std::string getVersion() = 0;
    virtual bool isViewable() = 0;
    virtual void open(const std::string& url) = 0;
    virtual void resize() = 0;
    virtual void setExpandProperties(const JSValue& properties) = 0;
    virtual Value getExpandProperties() = 0;
    virtual void setOrientationProperties(const JSValue& properties) = 0;
    virtual Value getOrientationProperties() = 0;
    virtual void useCustomClose(bool useCustomClose) = 0;
    virtual void createCalendarEvent() = 0;
    virtual Value getCurrentPosition() = 0;
    virtual Value getDefaultPosition() = 0;
    virtual Value getMaxSize() = 0;
    virtual Value getResizeProperties() = 0;
    virtual void setResizeProperties(const JSValue& properties) = 0;
    virtual Value getScreenSize() = 0;
    virtual void playVideo() = 0;
    virtual void storePicture(const std::string& url) = 0;
    virtual bool supports(const std::string& feature) = 0;

    std::vector<JSExportMethod> exportedMethods() const override;
};

class TMATMraidBridge : public TMATBaseBridge, public TMATMraidBridgeExport {
public:
    // A merged property table whose JSON text would pass this many bytes is refused.
    static constexpr size_t kMaximumPropertiesBytes = 4096;

    static Ref<TMATMraidBridge> defaultBridge(const Ref<TMATBaseAdController>& adController);
    // Also makes the expand view controller and the picture manager.
    Ref<TMATMraidBridge> initWithAdController(const Ref<TMATBaseAdController>& adController);

    std::string bridgePrefix() const override;
    std::string bridgeAPIVersion() const override;
    // "error", "info", "ready", "stateChange", "viewableChange", "sizeChange".
    std::vector<std::string> supportedJSEvents() const override;

    // ---- the page's methods ----
    bool addEvent(const std::string& event, const JSValue& listener) override {
        return TMATBaseBridge::addEvent(event, listener);
    }
    bool removeEvent(const std::string& event, const JSValue& listener) override {
        return TMATBaseBridge::removeEvent(event, listener);
    }
    // Expanded: the expansion closes on a later main-queue turn, then "default".
    void close() override;
    // Shows the container full screen on a later main-queue turn, then
    // "expanded". With a URL, the page at it is loaded into a second
    // container and shown once it has loaded, then "expanded"; a page that
    // fails to load is refused and the state stays. Refused: while expanded,
    // on an interstitial, to a URL that is not http or https, and without a
    // presenter that can present now; while a two-part page loads, with its
    // own message (the ad still reads "default").
    void expand(const JSValue& url) override;
    std::string getPlacementType() override;
    std::string getState() override;
    std::string getVersion() override { return bridgeAPIVersion(); }
    bool isViewable() override { return viewable_; }
    // The ad controller's click-through routing (not the external browser).
    // Only for the user: it uses up the page's activation (a tap on the ad
    // within the last 5 s, UIWebView); without one it is refused with an
    // "error" event, its log lines counted (consumeUserActivation).
    void open(const std::string& url) override;
    void resize() override;
    // The three setters merge an object into their table, keeping the keys
    // it lacks. The expand setter refuses a non-object, a table that would
    // grow too large and any call while expanded with an "error" event; the
    // other two only log.
    void setExpandProperties(const JSValue& properties) override;
    Value getExpandProperties() override;
    void setOrientationProperties(const JSValue& properties) override;
    Value getOrientationProperties() override;
    // Stored in the expand table; outside an interstitial the expansion's
    // close button follows it at once (hidden for true, shown for false).
    // From a two-part expansion's page it is the expanding ad's call.
    void useCustomClose(bool useCustomClose) override;
    void createCalendarEvent() override {}
    Value getCurrentPosition() override;
    Value getDefaultPosition() override;
    // The screen's points less the status bar.
    Value getMaxSize() override;
    Value getResizeProperties() override;
    void setResizeProperties(const JSValue& properties) override;
    // The screen's pixels, width and height swapped only while the device is
    // held in landscape (orientations 3 and 4).
    Value getScreenSize() override;
    void playVideo() override {}
    // Asks the user, then downloads and saves the picture (web URLs only).
    // Only for the user, as open.
    void storePicture(const std::string& url) override;
    // The supports table's answer; an unknown feature is refused with an "error" event.
    bool supports(const std::string& feature) override;

    // ---- native side ----
    // A change fires "viewableChange" with the new value.
    void sendIsViewable(bool viewable);
    // The first true fires "ready"; later calls do nothing.
    void setReady(bool ready);
    bool ready() const { return ready_; }
    // A changed size fires "sizeChange" with width and height.
    void setAdSizeRect(CGSize size);
    CGSize adSizeRect() const { return adSizeRect_; }
    // A changed state fires "stateChange" with its text.
    void setCurrentState(int state);
    int currentState() const { return currentState_; }
    // setCurrentState, then "stateChange" once more.
    void displayStateChanged(int state);
    void browsingStateChanged(int state);
    // Logged, then "error" with the message and the action.
    void fireErrorEventWithMessage(const std::string& message, const std::string& action);
    void setPlacementType(int type) { placementType_ = type; }
    int placementType() const { return placementType_; }
    void setDefaultPosition(CGRect position) { defaultPosition_ = position; }
    CGRect defaultPosition() const { return defaultPosition_; }
    void setCurrentPosition(CGRect position) { currentPosition_ = position; }
    CGRect currentPosition() const { return currentPosition_; }
    // The container's page has finished loading: the positions and the size
    // come from the container, "loading" becomes "default", then "ready".
    void containerDidFinishLoading();
    // Makes this the bridge of the page of `owner`'s two-part expansion: it
    // reads "expanded" from the start and its close closes that expansion.
    void becomeTwoPartPage(const Ref<TMATMraidBridge>& owner);
    // From the expand view controller: the second page loaded (shown now,
    // then "expanded"), or failed (an "error" event; the state stays).
    void twoPartPageDidLoad();
    void twoPartPageDidFail();

    // "loading", "default", "expanded", "resized", "hidden" ("default" outside 0–4).
    static std::string stringForMraidState(int state);
    // "interstitial" for 1, "inline" otherwise.
    static std::string stringForPlacementType(int type);

    // ---- tables: expand, resize and orientation made with their defaults
    // by initWithAdController, supports on first read ----
    Value cachedExpandProperties();
    Value cachedResizeProperties();
    Value cachedOrientationProperties();
    // "sms" and "tel" as the application can open them.
    Value cachedSupportProperties();
    // Merges; false, with a log line, when the merged table would pass
    // kMaximumPropertiesBytes.
    bool setCachedExpandProperties(const Value& properties);
    bool setCachedResizeProperties(const Value& properties);
    bool setCachedOrientationProperties(const Value& properties);

    Ref<TMATMraidExpandViewController> expandViewController() const { return expandViewController_; }
    Ref<TMATMraidPictureManager> pictureManager() const { return pictureManager_; }
    Ref<UIScreen> sharedScreen();
    Ref<UIApplication> sharedApplication();
    Ref<UIDevice> sharedDevice();

private:
    // A call refused for want of the user's tap: "error" with the message and
    // the action, the log line left to consumeUserActivation's count.
    void refuseWithoutTap(const std::string& what, const std::string& action);
    // The state the pending expand or close leads to, else the current one.
    int effectiveState() const { return targetState_.value_or(currentState_); }
    // A two-part expansion is asked for or its page loads, not yet shown.
    bool twoPartPageLoads() const;
    // On main: the expansion (a two-part one when `page` is set), or its
    // refusal when nothing can show it now.
    void performExpand(const Ref<NSURL>& page);
    void performClose();
    // The presenter, when the ad has a container and the presenter can
    // present now; else the refusal's text.
    Ref<UIViewController> expansionPresenter(std::string* refusal);
    // The container's frame in its window (its own frame outside one).
    void updatePositionFromContainer(bool asDefault);
    bool expandUsesCustomClose();
    // Merges `properties` into `table` (one of the four) under tablesMutex_;
    // false, logged, when the result would pass kMaximumPropertiesBytes.
    bool mergeTable(Value& table, const Value& properties, const char* name);
    static bool mergeTableLocked(Value& table, const Value& properties);

    bool ready_ = false;
    bool viewable_ = false;
    int currentState_ = TMATMraidStateLoading;
    std::optional<int> targetState_;
    bool twoPartRequested_ = false;  // between a two-part expand and its turn on main
    Weak<TMATMraidBridge> twoPartOwner_;
    int placementType_ = 0;
    CGSize adSizeRect_{0, 0};
    CGRect defaultPosition_ = CGRectZero;
    CGRect currentPosition_ = CGRectZero;
    std::mutex tablesMutex_;  // guards the four tables
    Value expandProperties_;
    Value resizeProperties_;
    Value orientationProperties_;
    Value supportProperties_;
    Ref<TMATMraidExpandViewController> expandViewController_;
    Ref<TMATMraidPictureManager> pictureManager_;
    Ref<UIScreen> sharedScreen_;
    Ref<UIApplication> sharedApplication_;
    Ref<UIDevice> sharedDevice_;
};
