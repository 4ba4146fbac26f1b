// How the full-screen ad screens report to the public ad object they show.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/runtime/NSObject.h"

class TRAViewControllerDelegate : public virtual NSObjectProtocol {
public:
    virtual void didShowAd() = 0;
    virtual void failedDisplayAd(const Ref<NSError>& error) = 0;
    virtual void willCloseAd() = 0;
    virtual void didCloseAdWithClick(bool click) = 0;
    virtual void allowAutoRotate() = 0;
    // Sent by the video screen only.
    virtual void didCompleteVideo() = 0;
};
