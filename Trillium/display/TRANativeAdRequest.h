// The native ad request: the common request with placement "INAPP_NATIVE"
// and, once a view size is set, that size (to the nearest whole number,
// halves away from zero; not finite: 0) as the width and height sent.
#pragma once

#include <optional>
#include <string>

#include "Trillium/TRABaseRequest.h"
#include "platform/ui/CGGeometry.h"

class TRANativeAdRequest : public TRABaseRequest {
public:
    static constexpr const char* kPlacement = "INAPP_NATIVE";

    static Ref<TRANativeAdRequest> alloc() { return NSObject::alloc<TRANativeAdRequest>(); }
    Ref<TRANativeAdRequest> init() { return self<TRANativeAdRequest>(); }

    const std::optional<CGSize>& viewSize() const { return viewSize_; }
    void setViewSize(CGSize size) { viewSize_ = size; }

    // The common fields, the placement, then the view size as width and height.
    void fillApplicationDetails(const std::optional<std::string>& appId,
                                const std::optional<std::string>& devId) override;
    // The base query followed by "&placement=%@".
    std::string getQueryString() const override { return queryWithPlacement(); }

private:
    std::optional<CGSize> viewSize_;
};
