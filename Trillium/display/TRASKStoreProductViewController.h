// The store sheet that the click follower and the in-app browser open when an
// ad click ends in the store: the platform's sheet, fixed against rotation
// while it is up but accepting every orientation.
#pragma once

#include "platform/store/SKStoreProductViewController.h"

class TRASKStoreProductViewController : public SKStoreProductViewController {
public:
    static Ref<TRASKStoreProductViewController> alloc() { return NSObject::alloc<TRASKStoreProductViewController>(); }
    Ref<TRASKStoreProductViewController> init() { return self<TRASKStoreProductViewController>(); }

    bool shouldAutorotate() override { return false; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() override { return UIInterfaceOrientationMaskAll; }
};
