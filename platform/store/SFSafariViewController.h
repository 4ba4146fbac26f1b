// The system browser sheet: a view controller for one web URL. Nothing is
// loaded or shown; presenting it records the URL (presentedURLs) and the
// simulateDone seam plays the user's "Done".
#pragma once

#include <vector>

#include "platform/foundation/NSURL.h"
#include "platform/ui/UIViewController.h"

namespace platform {

class SFSafariViewController;

class SFSafariViewControllerDelegate : public virtual NSObjectProtocol {
public:
    // The user tapped "Done"; the delegate dismisses the sheet.
    virtual void safariViewControllerDidFinish(Ref<SFSafariViewController>) {}
};

class SFSafariViewController : public UIViewController {
public:
    static Ref<SFSafariViewController> alloc() { return std::make_shared<SFSafariViewController>(); }
    // Null (logged) for a null URL or one that is not http or https.
    Ref<SFSafariViewController> initWithURL(const Ref<NSURL>& url);

    Ref<NSURL> URL() const { return url_; }
    Ref<SFSafariViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<SFSafariViewControllerDelegate>& delegate) { delegate_ = delegate; }

    void viewWillAppear(bool animated) override;

    // Test seams: the URLs of the sheets presented so far, in order; the
    // user's "Done" (safariViewControllerDidFinish to the delegate).
    static std::vector<Ref<NSURL>> presentedURLs();
    static void simulateDone(const Ref<SFSafariViewController>& controller);

private:
    Ref<NSURL> url_;
    Weak<SFSafariViewControllerDelegate> delegate_;
};

}  // namespace platform

using platform::SFSafariViewController;
using platform::SFSafariViewControllerDelegate;
