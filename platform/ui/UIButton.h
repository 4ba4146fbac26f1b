// A button: images, background images, titles and title colours per control
// state (falling back to the normal state), shown by an image view and a
// label it lays out centred.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/ui/UIControl.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

namespace platform {

using UIButtonType = int64_t;
inline constexpr UIButtonType UIButtonTypeCustom = 0;
inline constexpr UIButtonType UIButtonTypeSystem = 1;

class UIButton : public UIControl {
public:
    static Ref<UIButton> alloc() { return std::make_shared<UIButton>(); }
    static Ref<UIButton> buttonWithType(UIButtonType type);
    Ref<UIView> initWithFrame(CGRect frame) override;
    UIButtonType buttonType() const { return type_; }

    void setImage(Ref<UIImage> image, UIControlState state);
    Ref<UIImage> imageForState(UIControlState state) const;
    void setBackgroundImage(Ref<UIImage> image, UIControlState state);
    Ref<UIImage> backgroundImageForState(UIControlState state) const;
    void setTitle(std::optional<std::string> title, UIControlState state);
    std::optional<std::string> titleForState(UIControlState state) const;
    void setTitleColor(Ref<UIColor> color, UIControlState state);
    Ref<UIColor> titleColorForState(UIControlState state) const;
    Ref<UIImage> currentImage() const { return imageForState(state()); }
    std::optional<std::string> currentTitle() const { return titleForState(state()); }

    Ref<UILabel> titleLabel();
    Ref<UIImageView> imageView();

    void setEnabled(bool e) override;
    void setSelected(bool s) override;
    void setHighlighted(bool h) override;
    void layoutSubviews() override;
    CGSize sizeThatFits(CGSize size) override;
    CGSize intrinsicContentSize() override;

private:
    template <class T> static T lookup(const std::map<UIControlState, T>& map, UIControlState state) {
        if (auto it = map.find(state); it != map.end()) return it->second;
        if (auto it = map.find(UIControlStateNormal); it != map.end()) return it->second;
        return T{};
    }
    void refresh();

    UIButtonType type_ = UIButtonTypeCustom;
    std::map<UIControlState, Ref<UIImage>> images_;
    std::map<UIControlState, Ref<UIImage>> backgrounds_;
    std::map<UIControlState, std::optional<std::string>> titles_;
    std::map<UIControlState, Ref<UIColor>> titleColors_;
    Ref<UILabel> titleLabel_;
    Ref<UIImageView> imageView_;
    Ref<UIImageView> backgroundView_;
};

}  // namespace platform

using platform::UIButton;
using platform::UIButtonType;
using platform::UIButtonTypeCustom;
using platform::UIButtonTypeSystem;
