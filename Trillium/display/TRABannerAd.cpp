#include "Trillium/display/TRABannerAd.h"

#include "Trillium/TRABannerAdRequest.h"
#include "Trillium/TRALog.h"

Ref<TRABannerAd> TRABannerAd::init() {
    TRAHtmlAd::init();
    setAdRequest(NSObject::alloc<TRABannerAdRequest>()->init());
    needToReload_ = true;
    return self<TRABannerAd>();
}

void TRABannerAd::setViewSize(CGSize size) {
    if (auto request = std::dynamic_pointer_cast<TRABannerAdRequest>(adRequest())) request->setViewSize(size);
}

std::optional<std::string_view> TRABannerAd::markerValue(std::string_view page, std::string_view marker) {
    size_t at = page.find(marker);
    if (at == std::string_view::npos) return std::nullopt;
    size_t start = at + marker.size();
    size_t end = page.find('@', start);
    if (end == std::string_view::npos) return std::nullopt;
    return page.substr(start, end - start);
}

bool TRABannerAd::onReceiveAd() {
    if (!TRAHtmlAd::onReceiveAd()) return false;
    needToReload_ = true;
    parseNeedToReload();
    parseWidth();
    parseHeight();
    return true;
}

void TRABannerAd::parseNeedToReload() {
    auto value = markerValue(html(), kAdIdMarker);
    if (!value) return;
    adId_ = std::string(*value);
    needToReload_ = true;
}

void TRABannerAd::parseWidth() { parseSide(kWidthMarker, width_); }
void TRABannerAd::parseHeight() { parseSide(kHeightMarker, height_); }

void TRABannerAd::parseSide(const char* marker, int32_t& side) {
    std::string_view page = html();
    if (page.find(marker) == std::string_view::npos) return;
    auto text = markerValue(page, marker);
    // The text's integer value, as the server's pages have always been read.
    std::optional<int32_t> value = text ? std::optional<int32_t>(NSString::intValue(*text)) : std::nullopt;
    if (!value || *value < 0 || *value > kMaximumSide) {
        TRALog::errorf("Banner page: the value of %@ is not a size of 0 to %d points; the banner keeps %d.", marker,
                       kMaximumSide, side);
        return;
    }
    side = *value;
}
