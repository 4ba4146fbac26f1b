// Carries out an MRAID expansion for its bridge. One-part: takes the ad
// container out of its place (remembering its superview), shows it full
// screen over the presenter, and on close puts it back into its old
// superview, with that superview's frame. Two-part: loads the page at a URL
// off screen into a second container (twoPartView) with bridges of the kinds
// the ad has, its own MRAID bridge reading "expanded" and closing through this
// expansion, and tells the bridge when that page has loaded or failed; the
// bridge then has it shown the same way, the ad's container staying in place.
// The native close button shows (invisible but still tappable when the
// creative draws its own close control); a tap asks the bridge to close. An
// expansion holds its bridge and the second page's bridges until it is
// closed, so an ad whose controller is gone still closes. Main thread.
#pragma once

#include "platform/foundation/NSURL.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIViewController.h"
#include "tamarind/TMATInterstitialAdContainer.h"

class TMATBridgeManager;
class TMATMraidBridge;

class TMATMraidExpandViewController : public UIViewController, public TMATInterstitialAdContainerDelegate {
public:
    static Ref<TMATMraidExpandViewController> alloc() { return std::make_shared<TMATMraidExpandViewController>(); }
    // Makes the close button; keeps the bridge weakly (strongly while expanded).
    Ref<TMATMraidExpandViewController> initWithBridge(const Ref<TMATMraidBridge>& bridge);
    ~TMATMraidExpandViewController() override;

    // Detaches the container from its superview, which it remembers.
    void expandAdView(const Ref<TMATBaseAdContainer>& container, bool useCustomButton);
    // Starts loading the page at the URL into twoPartView, off screen; the
    // bridge hears twoPartPageDidLoad or twoPartPageDidFail on a later turn.
    void twoPartExpand(const Ref<TMATBaseAdContainer>& container, const Ref<NSURL>& url, bool useCustomButton);
    // Puts the view into this controller's view (filling it), lays out the
    // close button and presents this controller over full screen from the
    // presenter, animated. False when the presenter refused it.
    bool expandWithSubview(const Ref<UIView>& view, bool useCustomButton, const Ref<UIViewController>& presenter);
    // A 50-point square 8 points from the top and right edges; without
    // images when custom, else with the built-in ones.
    void layoutCloseButton(bool custom);
    void showCloseButton();
    void hideCloseButton();
    // Asks the expanding bridge to close; also the second page's own close
    // button, should its creative show one.
    void closeButtonPressed() override;
    PLATFORM_RESPONDS_TO("closeButtonPressed")
    // Removes the close button and dismisses this controller; one-part puts
    // the container back into its old superview with that superview's frame,
    // two-part stops and drops the second page. Lets go of what the
    // expansion held.
    void closeExpandedView();

    // ---- TMATInterstitialAdContainerDelegate: the second page's load ----
    void interstitialDidPrerender() override;
    void interstitialDidFailToPrerenderWithError(Ref<NSError> error) override;
    void interstitialDidRender() override {}
    void interstitialDidFailToRenderWithError(Ref<NSError>) override {}
    void interstitialDidClickOnPrivateURL(const std::string&) override {}

    bool prefersStatusBarHidden() override { return true; }

    Ref<TMATBaseAdContainer> adContainer() const { return adContainer_.lock(); }
    Ref<UIView> oldSuperview() const { return oldSuperview_.lock(); }
    Ref<UIButton> closeButton() const { return closeButton_; }
    // A two-part expansion is under way (its second page is made).
    bool isTwoPart() const { return twoPartView_ != nullptr; }
    Ref<TMATInterstitialAdContainer> twoPartView() const { return twoPartView_; }

private:
    Weak<TMATMraidBridge> bridge_;
    // Set from expansion to close.
    Ref<TMATMraidBridge> expandedBridge_;
    Weak<TMATBaseAdContainer> adContainer_;
    Weak<UIView> oldSuperview_;
    Ref<TMATInterstitialAdContainer> twoPartView_;
    Ref<TMATBridgeManager> twoPartBridges_;  // the container holds them weakly
    Ref<UIButton> closeButton_;
};
