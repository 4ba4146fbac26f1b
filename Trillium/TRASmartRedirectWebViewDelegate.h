// How the click follower (and the in-app browser, as store delegate) reports
// back; every method is optional and sent only when the receiver lists it.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/NSError.h"
#include "platform/runtime/NSObject.h"

class TRASmartRedirectWebViewDelegate : public virtual NSObjectProtocol {
public:
    // The URL text to open in the in-app browser, or nil.
    virtual void didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) { (void)url; }
    virtual void didFinishWithError(const Ref<NSError>& error) { (void)error; }
    virtual void allowAutoRotate() {}
    virtual void didCloseInAppStore() {}
};
