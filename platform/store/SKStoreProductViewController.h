// The store product sheet: a view controller that loads a product by its
// identifier and tells its delegate when the user closes it. There is no
// store behind it: in the program every load fails (SKErrorDomain 0) at the
// next pass, so callers fall back to opening the store URL; tests script the
// result through platform::testing::StoreSheet.
#pragma once

#include <functional>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UIViewController.h"

namespace platform {

inline constexpr const char* SKStoreProductParameterItemIdentifier = "id";
// The same key under its older name (the one the ad clients write).
inline constexpr const char* SKStoreProductParameterITunesItemIdentifier = SKStoreProductParameterItemIdentifier;
inline constexpr int64_t SKErrorUnknown = 0;

class SKStoreProductViewController;

class SKStoreProductViewControllerDelegate : public virtual NSObjectProtocol {
public:
    // The user closed the sheet; the delegate dismisses it.
    virtual void productViewControllerDidFinish(Ref<SKStoreProductViewController>) {}
};

class SKStoreProductViewController : public UIViewController {
public:
    using LoadCompletion = std::function<void(bool result, Ref<NSError> error)>;

    static Ref<SKStoreProductViewController> alloc() { return std::make_shared<SKStoreProductViewController>(); }
    Ref<SKStoreProductViewController> init() { return self<SKStoreProductViewController>(); }

    Ref<SKStoreProductViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<SKStoreProductViewControllerDelegate>& delegate) { delegate_ = delegate; }

    // `parameters`: a dictionary with SKStoreProductParameterItemIdentifier (a
    // string or number). The completion runs once, on the main queue, always
    // after this call and possibly much later, also after the sheet (and its
    // caller) went away. Without an identifier the load fails.
    void loadProductWithParameters(const Value& parameters, LoadCompletion completion);

private:
    Weak<SKStoreProductViewControllerDelegate> delegate_;
};

}  // namespace platform

namespace platform::testing {

// Test seams of the store sheet.
class StoreSheet {
public:
    enum Result { Loads, Fails };

    // The next load ends with `result` after `delay` seconds of clock time (0:
    // the next pass). Without it, a load ends at the next pass as the device
    // profile's storeSheetLoads says (false: fails).
    static void setNextResult(Result result, double delay = 0);
    // Loads started from now on wait for completePending.
    static void hold();
    // Ends every waiting load with `loads` at the next pass, in the order they
    // started, and stops holding.
    static void completePending(bool loads);
    static size_t pendingCount();
    // The parameters of every load so far, in order.
    static std::vector<Value> loadedParameters();
    // The user closes the sheet: productViewControllerDidFinish to its delegate.
    static void simulateUserClose(const Ref<SKStoreProductViewController>& sheet);
};

}  // namespace platform::testing

using platform::SKErrorUnknown;
using platform::SKStoreProductParameterITunesItemIdentifier;
using platform::SKStoreProductParameterItemIdentifier;
using platform::SKStoreProductViewController;
using platform::SKStoreProductViewControllerDelegate;
