// The settings slots the display side reads (see HLSettingsManager), by name.
#pragma once

#include <cstdint>

enum HLDisplaySettingsSlot : int64_t {
    kHLSlotGraphicAdAnimEnabled = 59,
    kHLSlotGraphicAdAnimDelay = 60,
    kHLSlotGraphicAdAnimTime = 61,
    kHLSlotCloseButtonTouchArea = 81,
    kHLSlotLhsCloseButtonGraphic = 82,
    kHLSlotCloseButtonSizeGraphic = 85,
    kHLSlotCloseButtonMarginGraphic = 86,
    kHLSlotTransformDialogs = 110,
    kHLSlotClickOverlayEnabled = 115,
    kHLSlotClickOverlayColor = 116,
    kHLSlotClickOverlayIndicatorStyle = 117,
    kHLSlotClickOverlayEmbeddingH = 118,
    kHLSlotClickOverlayEmbeddingV = 119,
    kHLSlotClickOverlayIndicatorH = 120,
    kHLSlotClickOverlayIndicatorV = 121,
    kHLSlotClickOverlayFadeTime = 122,
    kHLSlotAutolayoutInterstitials = 126,
    kHLSlotInterstitialH = 127,
    kHLSlotInterstitialV = 128,
    kHLSlotCloseH = 129,
    kHLSlotCloseV = 130,
    kHLSlotAdViewH = 131,
    kHLSlotAdViewV = 132,
    kHLSlotAutolayoutVideoControllers = 134,
};
