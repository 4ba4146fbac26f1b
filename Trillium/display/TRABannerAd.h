// The ad object of one banner: an HTML ad requested as a banner
// (TRABannerAdRequest, placement "INAPP_BANNER") whose page also names the
// banner's size and ad identifier with three markers, each value running from
// just after its marker to the next "@":
//   "@adId@<identifier>@"   "@width@<points>@"   "@height@<points>@"
// The sizes are read as integers (leading digits). A marker that is absent,
// not closed by an "@", or (for the sizes) whose value is outside 0 to
// kMaximumSide leaves its field as it was; the last two are logged. Main
// thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Trillium/TRAHtmlAd.h"
#include "platform/ui/CGGeometry.h"

class TRABannerAd : public TRAHtmlAd {
public:
    static constexpr const char* kAdIdMarker = "@adId@";
    static constexpr const char* kWidthMarker = "@width@";
    static constexpr const char* kHeightMarker = "@height@";
    // The largest side a page may name, in points.
    static constexpr int32_t kMaximumSide = 10000;

    static Ref<TRABannerAd> alloc() { return NSObject::alloc<TRABannerAd>(); }
    // A banner request as the ad's request; needToReload true.
    Ref<TRABannerAd> init();

    // The size the request asks for (rounded to whole points when sent).
    void setViewSize(CGSize size);

    // The HTML ad's processing (lists, video settings), then the markers.
    // Every received page is a new one: needToReload becomes true.
    bool onReceiveAd() override;
    void parseNeedToReload();
    void parseWidth();
    void parseHeight();

    // Impressions are due for the page last received (cleared by the banner
    // once it has sent them).
    bool needToReload() const { return needToReload_; }
    void setNeedToReload(bool needToReload) { needToReload_ = needToReload; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    const std::optional<std::string>& adId() const { return adId_; }

    // The text after `marker` up to the next "@"; nullopt when the marker is
    // absent or not closed.
    static std::optional<std::string_view> markerValue(std::string_view page, std::string_view marker);

private:
    void parseSide(const char* marker, int32_t& side);

    bool needToReload_ = true;
    int32_t width_ = 0;
    int32_t height_ = 0;
    std::optional<std::string> adId_;
};
