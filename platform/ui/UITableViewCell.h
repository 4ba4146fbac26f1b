// A table cell: a view whose content view fills it (no table machinery).
#pragma once

#include <optional>
#include <string>

#include "platform/ui/UIView.h"

namespace platform {

using UITableViewCellStyle = int64_t;
inline constexpr UITableViewCellStyle UITableViewCellStyleDefault = 0;

class UITableViewCell : public UIView {
public:
    static Ref<UITableViewCell> alloc() { return std::make_shared<UITableViewCell>(); }
    Ref<UITableViewCell> initWithStyle(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    Ref<UIView> initWithFrame(CGRect frame) override;

    Ref<UIView> contentView() const { return contentView_; }
    const std::optional<std::string>& reuseIdentifier() const { return reuseIdentifier_; }

private:
    Ref<UIView> contentView_;
    std::optional<std::string> reuseIdentifier_;
};

}  // namespace platform

using platform::UITableViewCell;
using platform::UITableViewCellStyle;
using platform::UITableViewCellStyleDefault;
