// A full-screen ad screen as the ad model drives it: the HTML and video ad
// view controllers implement this. The ad creates one, keeps it, and hands it
// the ad, the delegate and the tag; the screen then loads and presents itself.
#pragma once

#include <optional>
#include <string>

#include "Trillium/TRAViewControllerDelegate.h"
#include "platform/runtime/NSObject.h"

class TRAAd;

class TRAAdScreen : public virtual NSObjectProtocol {
public:
    virtual void initWithAd(const Ref<TRAAd>& ad, const Ref<TRAViewControllerDelegate>& delegate,
                            const std::optional<std::string>& adTag) = 0;
    virtual void closeAdWithAnimation(bool animated, bool click) = 0;
};
