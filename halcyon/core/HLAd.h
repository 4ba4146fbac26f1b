// One Halcyon ad record. Its fields, equality and completion URL come with
// the ad model work; for now it is the type that argument checks ask for.
#pragma once

#include "platform/runtime/NSObject.h"

class HLAd : public NSObject {
public:
    Ref<HLAd> init() { return self<HLAd>(); }
};
