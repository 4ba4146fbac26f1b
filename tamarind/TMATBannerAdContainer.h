// The container of template banners: a base container with no behaviour of
// its own yet.
#pragma once

#include "tamarind/TMATBaseAdContainer.h"

class TMATBannerAdContainer : public TMATBaseAdContainer {};
