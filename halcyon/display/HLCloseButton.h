// The close buttons the Halcyon presenters draw themselves: the abstract
// HLCloseButton, its two drawings (Classic: a white ring around a black disc
// with a white cross; White-grey: a translucent dark disc with a thin cross
// on a slightly shrunk and shifted frame), and the clear extended click area
// a video controller may put on a button. The buttons take no touches
// themselves: their owners attach tap recognizers. Main thread.
#pragma once

#include <cstdint>

#include "platform/ui/UIView.h"

class HLCloseButtonExtendedClickArea;

class HLCloseButton : public UIView {
public:
    // Style 0 makes a Classic button, every other value a White-grey one.
    static Ref<HLCloseButton> closeButtonWithStyle(uint32_t style, CGRect frame);

    // Clear, not opaque, an accessibility element labelled "Close Advertisement".
    Ref<UIView> initWithFrame(CGRect frame) override;
    // The abstract button cannot draw: raises NSInternalInconsistencyException.
    void drawRect(CGRect rect) override;

    // 0 Classic, 1 White-grey, 2 the abstract button.
    virtual uint32_t closeButtonStyle() const { return 2; }

    Ref<HLCloseButtonExtendedClickArea> extendedClickArea() const { return extendedClickArea_; }
    // The previous area leaves the button; the new one is its front subview.
    void setExtendedClickArea(const Ref<HLCloseButtonExtendedClickArea>& area);

private:
    Ref<HLCloseButtonExtendedClickArea> extendedClickArea_;
};

class HLCloseButtonClassic : public HLCloseButton {
public:
    static Ref<HLCloseButtonClassic> alloc() { return std::make_shared<HLCloseButtonClassic>(); }
    uint32_t closeButtonStyle() const override { return 0; }
    void drawRect(CGRect rect) override;
};

class HLCloseButtonWhiteGrey : public HLCloseButton {
public:
    static Ref<HLCloseButtonWhiteGrey> alloc() { return std::make_shared<HLCloseButtonWhiteGrey>(); }
    // The frame given is shrunk first (shrinkFrame).
    Ref<UIView> initWithFrame(CGRect frame) override;
    uint32_t closeButtonStyle() const override { return 1; }
    void drawRect(CGRect rect) override;
    // x + trunc(0.15·W), y − trunc(0.1·H), 0.95·W by 0.95·H.
    static CGRect shrinkFrame(CGRect frame);
};

class HLCloseButtonExtendedClickArea : public UIView {
public:
    static Ref<HLCloseButtonExtendedClickArea> alloc() { return std::make_shared<HLCloseButtonExtendedClickArea>(); }
    // A clear view at the button frame's origin, `size` points wider and taller.
    static Ref<HLCloseButtonExtendedClickArea> extendedClickAreaForCloseButton(const Ref<HLCloseButton>& button,
                                                                               uint64_t size);
};
