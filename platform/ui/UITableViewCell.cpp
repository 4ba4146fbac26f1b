#include "platform/ui/UITableViewCell.h"

namespace platform {

Ref<UITableViewCell> UITableViewCell::initWithStyle(UITableViewCellStyle, std::optional<std::string> reuseIdentifier) {
    reuseIdentifier_ = std::move(reuseIdentifier);
    initWithFrame(CGRectMake(0, 0, 320, 44));
    return self<UITableViewCell>();
}

Ref<UIView> UITableViewCell::initWithFrame(CGRect frame) {
    UIView::initWithFrame(frame);
    contentView_ = UIView::alloc()->initWithFrame(bounds());
    contentView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    addSubview(contentView_);
    return self<UIView>();
}

}  // namespace platform
