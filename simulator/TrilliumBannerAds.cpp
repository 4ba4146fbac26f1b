#include "simulator/TrilliumBannerAds.h"

#include <zlib.h>

#include "platform/foundation/NSJSONSerialization.h"

namespace simulator {

namespace {

void TrilliumBannerPutBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xff);
}

void TrilliumBannerPngChunk(std::string& out, const char* type, const std::string& data) {
    TrilliumBannerPutBigEndian(out, static_cast<uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    TrilliumBannerPutBigEndian(out, static_cast<uint32_t>(crc));
}

std::string TrilliumBannerEscapeHtml(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// What a native answer's images are: served, missing or broken.
constexpr const char* kTrilliumNativeBrokenImage = "broken.png";
constexpr const char* kTrilliumNativeMissingImage = "missing.png";

}  // namespace

std::string TrilliumBannerAds::pngImage(uint32_t width, uint32_t height, uint32_t rgba) {
    std::string header;
    TrilliumBannerPutBigEndian(header, width);
    TrilliumBannerPutBigEndian(header, height);
    header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter, no interlace
    std::string row(1, '\0');  // filter "none"
    for (uint32_t x = 0; x < width; ++x)
        for (int shift = 24; shift >= 0; shift -= 8) row += static_cast<char>((rgba >> shift) & 0xff);
    std::string raw;
    for (uint32_t y = 0; y < height; ++y) raw += row;
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string compressed(size, '\0');
    compress(reinterpret_cast<Bytef*>(compressed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             static_cast<uLong>(raw.size()));
    compressed.resize(size);
    std::string png("\x89PNG\r\n\x1a\n", 8);
    TrilliumBannerPngChunk(png, "IHDR", header);
    TrilliumBannerPngChunk(png, "IDAT", compressed);
    TrilliumBannerPngChunk(png, "IEND", std::string());
    return png;
}

// ---- banners ----------------------------------------------------------------------------------------------------

std::string TrilliumBannerAds::bannerPage(const TrilliumBannerPage& page) const {
    std::string target = page.target.empty() ? service_.server().url(kLandingPath) + "?index=0" : page.target;
    TrilliumHtmlAd ad = page.lists;
    ad.body = "<style>body{margin:0}a{display:block;color:#fff;text-decoration:none;font:bold 18px sans-serif;"
              "padding:14px;background:" + page.color + "}</style><a id=\"ad0\" href=\"" +
              TrilliumBannerEscapeHtml(target) + "\">" + TrilliumBannerEscapeHtml(page.title) + "</a>";
    if (page.markers)
        ad.body += "<!--@adId@" + page.adId + "@ @width@" + page.width + "@ @height@" + page.height + "@-->";
    return service_.htmlAdPage(ad);
}

std::vector<TrilliumBannerPage> TrilliumBannerAds::defaultBannerPages() {
    std::vector<TrilliumBannerPage> pages;
    const char* titles[] = {"Paranormal Pro", "Ghost Radar Plus", "Spirit Box"};
    const char* colors[] = {"#20303f", "#3f2030", "#203f30"};
    for (int i = 1; i <= 3; ++i) {
        TrilliumBannerPage page;
        page.adId = "banner" + std::to_string(i);
        page.title = titles[i - 1];
        page.color = colors[i - 1];
        page.lists.impressions = {"bimp" + std::to_string(i)};
        page.lists.clickTrackings = {"bclick" + std::to_string(i)};
        page.lists.closes.clear();
        page.lists.smartRedirect = {false};
        page.lists.trilliumBrowserEnabled = {true};
        pages.push_back(page);
    }
    return pages;
}

void TrilliumBannerAds::setBannerPages(const std::vector<TrilliumBannerPage>& pages) {
    std::vector<Answer> answers;
    for (const auto& page : pages)
        answers.push_back(Answer::ok(bannerPage(page)).header("Content-Type", "text/html; charset=utf-8"));
    service_.setHtmlAdsForPlacement(kBannerPlacement, std::move(answers));
}

// ---- native ads -------------------------------------------------------------------------------------------------

std::string TrilliumBannerAds::imageUrl(std::string_view name) const {
    return service_.server().url(std::string(kImageFolder) + std::string(name));
}

std::vector<TrilliumNativeRecord> TrilliumBannerAds::defaultNativeRecords() const {
    std::vector<TrilliumNativeRecord> records(3);
    const char* titles[] = {"Ghost Radar Plus", "Spirit Box", "EVP Recorder"};
    const char* categories[] = {"Entertainment", "Tools", "Music"};
    for (size_t i = 0; i < records.size(); ++i) {
        std::string id = "native" + std::to_string(i + 1);
        auto& record = records[i];
        record.adId = id;
        record.title = titles[i];
        record.description = std::string("The best ") + titles[i] + " for your hunts.";
        record.rating = 3.5 + 0.5 * static_cast<double>(i);
        record.category = categories[i];
        record.clickUrl = service_.server().url(kLandingPath) + "?d=" + id;
        record.trackingUrl = service_.trackingUrl(TrilliumService::kImpressionPath, id);
        record.trackingClickUrl = service_.trackingUrl(TrilliumService::kClickPath, id);
        record.smartRedirect = false;
        record.trilliumBrowserEnabled = true;
        record.app = i != 1;
    }
    records[0].imageUrl = imageUrl("native1-icon.png");
    records[0].secondaryImageUrl = imageUrl("native1-cover.png");
    records[1].imageUrl = imageUrl("native2-icon.png");
    records[1].secondaryImageUrl = imageUrl(kTrilliumNativeMissingImage);
    records[2].imageUrl = imageUrl(kTrilliumNativeBrokenImage);
    return records;
}

std::string TrilliumBannerAds::nativeAnswer(const std::vector<TrilliumNativeRecord>& records) {
    Value list = Value::array({});
    for (const auto& r : records) {
        Value item = Value::dictionary({});
        auto text = [&](const char* key, const std::string& value) {
            if (!value.empty()) item.set(key, value);
        };
        text("adId", r.adId);
        text("title", r.title);
        text("description", r.description);
        if (r.rating) item.set("rating", *r.rating);
        text("category", r.category);
        text("imageUrl", r.imageUrl);
        text("secondaryImageUrl", r.secondaryImageUrl);
        text("clickUrl", r.clickUrl);
        text("trackingUrl", r.trackingUrl);
        text("trackingClickUrl", r.trackingClickUrl);
        if (r.smartRedirect) item.set("smartRedirect", *r.smartRedirect);
        if (r.trilliumBrowserEnabled) item.set("trilliumBrowserEnabled", *r.trilliumBrowserEnabled);
        if (r.app) item.set("app", *r.app);
        text("packageName", r.packageName);
        list.append(item);
    }
    auto data = NSJSONSerialization::dataWithJSONObject(Value::dictionary({{"adsDetails", list}}));
    return data ? data->toString() : std::string();
}

void TrilliumBannerAds::setNativeRecords(const std::vector<TrilliumNativeRecord>& records) {
    service_.setJsonAds(nativeAnswer(records));
}

void TrilliumBannerAds::serveImage(std::string_view name, std::string bytes) {
    service_.server().route("GET", std::string(kImageFolder) + std::string(name),
                            Answer::ok(std::move(bytes)).header("Content-Type", "image/png"));
}

std::vector<TrilliumRequest> TrilliumBannerAds::imageRequests() const {
    std::vector<TrilliumRequest> list;
    for (const auto& r : service_.requests())
        if (r.request.path.rfind(kImageFolder, 0) == 0) list.push_back(r);
    return list;
}

void TrilliumBannerAds::install() {
    setBannerPages(defaultBannerPages());
    setNativeRecords(defaultNativeRecords());
    serveImage("native1-icon.png", pngImage(72, 72, 0x3a7bd5ff));
    serveImage("native1-cover.png", pngImage(340, 180, 0x20303fff));
    serveImage("native2-icon.png", pngImage(72, 72, 0xd53a7bff));
    serveImage(kTrilliumNativeBrokenImage, "GIF89a this is no picture");
    service_.server().route("GET", std::string(kImageFolder) + kTrilliumNativeMissingImage, Answer::withStatus(404));
}

}  // namespace simulator
