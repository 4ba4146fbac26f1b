// Carries out an MRAID expansion for its bridge: takes the ad container out
// of its place (remembering its superview), shows it full screen over the
// presenter with the native close button (invisible but still tappable when
// the creative draws its own), and on close dismisses itself and puts the
// container back into its old superview, with that superview's frame. A tap
// on the close button asks the bridge to close. Main thread.
#pragma once

#include "platform/ui/UIButton.h"
#include "platform/ui/UIViewController.h"

class TMATBaseAdContainer;

class TMATMraidExpandViewController : public UIViewController {
public:
    static Ref<TMATMraidExpandViewController> alloc() { return std::make_shared<TMATMraidExpandViewController>(); }
    // Makes the close button.
    Ref<TMATMraidExpandViewController> init();
    ~TMATMraidExpandViewController() override;

    // Detaches the container from its superview, which it remembers.
    void expandAdView(const Ref<TMATBaseAdContainer>& container, bool useCustomButton);
    // Puts the view into this controller's view (filling it), lays out the
    // close button and presents this controller over full screen from the
    // presenter, animated. False when the presenter refused it.
    bool expandWithSubview(const Ref<UIView>& view, bool useCustomButton, const Ref<UIViewController>& presenter);
    // A 50-point square 8 points from the top and right edges; without
    // images when custom, else with the built-in ones.
    void layoutCloseButton(bool custom);
    void showCloseButton();
    void hideCloseButton();
    // Asks the MRAID bridge of the container's bridges to close.
    void closeButtonPressed();
    // Removes the close button, dismisses this controller and puts the
    // container back into its old superview with that superview's frame.
    void closeExpandedView();

    bool prefersStatusBarHidden() override { return true; }

    Ref<TMATBaseAdContainer> adContainer() const { return adContainer_.lock(); }
    Ref<UIView> oldSuperview() const { return oldSuperview_.lock(); }
    Ref<UIButton> closeButton() const { return closeButton_; }

private:
    Weak<TMATBaseAdContainer> adContainer_;
    Weak<UIView> oldSuperview_;
    Ref<UIButton> closeButton_;
};
