#include "halcyon/core/HLTaskRenderIOSAd.h"

#include <algorithm>
#include <bitset>
#include <functional>

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLVideoButtonProperties.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"

namespace {
constexpr int64_t kHLRenderSlotResourceCacheEnabled = 30;  // "is_resource_cache_enabled"
constexpr int64_t kHLRenderSlotDelimiters = 62;            // "precache_delimiters"

// The delimiters of a page scan: single bytes in one set, characters of
// several bytes (a server may send any) searched one by one.
struct HLRenderDelimiters {
    std::bitset<256> bytes;  // a table, so the scan looks at each byte once
    std::vector<std::string> wide;

    explicit HLRenderDelimiters(const std::string& characters) {
        for (size_t i = 0; i < characters.size();) {
            const auto lead = static_cast<unsigned char>(characters[i]);
            size_t width = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            width = std::min(width, characters.size() - i);
            if (width == 1) bytes.set(lead);
            else wide.push_back(characters.substr(i, width));
            i += width;
        }
    }
    size_t firstFrom(const std::string& page, size_t from) const {
        size_t best = std::string::npos;
        for (size_t i = from; i < page.size(); ++i) {
            if (bytes.test(static_cast<unsigned char>(page[i]))) {
                best = i;
                break;
            }
        }
        for (const std::string& w : wide) best = std::min(best, page.find(w, from));
        return best;
    }
};

// Reads the answer's keys by the kind each must have; a present value of
// another kind is logged and counts as absent.
class HLRenderAnswerReader {
public:
    HLRenderAnswerReader(const Value& answer, const Ref<HLLogManager>& log, const std::string& tag)
        : answer_(answer), log_(log), tag_(tag) {}

    std::optional<std::string> string(const char* key) const {
        if (const std::string* found = text(key)) return *found;
        return std::nullopt;
    }
    // string() without a copy: the answer's own text, or null.
    const std::string* text(const char* key) const {
        const Value& value = answer_[key];
        const std::string* found = value.string();
        if (!found) complain(key, value, "a string");
        return found;
    }
    Value number(const char* key, Value fallback) const {
        const Value& value = answer_[key];
        if (value.isNumber()) return value;
        complain(key, value, "a number");
        return fallback;
    }
    bool flag(const char* key) const { return number(key, Value(false)).boolValue(); }
    Value dictionary(const char* key) const {
        const Value& value = answer_[key];
        if (value.isDictionary()) return value;
        complain(key, value, "an object");
        return Value();
    }
    bool present(const char* key) const { return !answer_[key].isNull(); }

private:
    void complain(const char* key, const Value& value, const char* kind) const {
        if (!value.isNull() && log_) log_->w(tag_, "Ignoring \"%@\" of the ad answer: not %@", key, kind);
    }
    const Value& answer_;
    Ref<HLLogManager> log_;
    const std::string& tag_;
};
}  // namespace

void HLTaskRenderIOSAd::processAd(const Value& response) {
    const Ref<HLSdk>& sdk = this->sdk();
    HLRenderAnswerReader read(response, logger(), tag());
    Value adId = read.number("ad_id", Value());
    Ref<HLAdType> type = HLAdType::adTypeFromString(read.string("ad_type"));
    Ref<HLAdSize> size = NSObject::alloc<HLAdSize>()->initWithLabel(read.string("size").value_or(""));
    const bool hasVideo = read.present("video");
    std::optional<std::string> video = read.string("video");
    const bool videoClickable = read.flag("video_clickable");
    Value countdownLength = read.number("countdown_length", Value(0));
    Value videoCloseDelay = read.number("close_delay", Value(0));
    Value closeDelay = read.number("close_delay_graphic", Value());
    const bool dismissOnSkip = read.flag("dismiss_on_skip");
    const std::string* html = read.text("html");
    std::optional<std::string> presentation = read.string("presentation_mode");
    std::optional<std::string> muteImage = read.string("mute_image");
    std::optional<std::string> unmuteImage = read.string("unmute_image");
    Value closeStyle = read.number("close_style", Value());
    Value storeKit = read.dictionary("storekit_info");
    Value buttonProperties = read.dictionary("video_button_properties");
    std::optional<std::string> buttonHtml;
    if (const std::string* text = buttonProperties["video_button_html"].string()) buttonHtml = *text;
    std::string clcode;
    if (const std::string* first = response["clcodes"].at(0).string()) clcode = *first;

    // Fewer than 3 characters (UTF-16 units); 12 bytes always hold 3.
    if (!html || (html->size() < 12 && NSString::length(*html) < 3)) {
        logger()->e(tag(), "Unable to render an ad, html/UI is empty");
        handleFailedAdRenderForAdSize(size, type, -1);
        return;
    }
    std::optional<std::string> videoFile;
    if (hasVideo) {
        videoFile = video ? processAdVideo(video, type) : std::nullopt;
        if (!videoFile) {
            logger()->e(tag(), "Unable to precache video, ad can not be rendered");
            handleFailedAdRenderForAdSize(HLAdSize::sizeInterstitial(), type, -200);
            return;
        }
    }
    std::string page = cacheNonVideoResources(*html);
    setWasVideoCached(videoFile && !videoFile->empty());
    renderBudget().admit(page.size());
    Ref<NSURL> videoCompletionURL = replaceURLString(response["video_end_url"], clcode);
    Ref<NSURL> clickTrackingURL = replaceURLString(response["click_tracking_url"], clcode);
    Ref<NSURL> clickDestinationURL = replaceURLString(response["click_url"], clcode);
    if (renderBudget().isSpent()) {
        logger()->e(tag(), "Unable to render an ad: %@", renderBudget().failure());
        handleFailedAdRenderForAdSize(size, type, HLRenderBudget::kExceededError);
        return;
    }

    auto ad = NSObject::alloc<HLAd>()->init();
    ad->setAdIdNumber(adId);
    ad->setSize(size);
    ad->setType(type);
    ad->setClcode(clcode);
    ad->setVideoFilename(videoFile);
    ad->setDismissOnSkip(dismissOnSkip);
    ad->setVideoClickableDuringPlayback(videoClickable);
    ad->setVideoCloseDelay(videoCloseDelay);
    ad->setCountdownLength(countdownLength);
    if (closeDelay.isNull()) {
        const bool incentivized = type->isEqual(*HLAdType::typeIncentivized());
        const bool videoWithoutDelay = wasVideoCached() && videoCloseDelay.integerValue() == -1;
        closeDelay = Value(incentivized || videoWithoutDelay ? 0.5 : 0);
    }
    ad->setCloseDelay(closeDelay);
    ad->setVideoCompletionURL(videoCompletionURL);
    ad->setClickTrackingURL(clickTrackingURL);
    ad->setClickDestinationURL(clickDestinationURL);
    ad->setHtmlSource(std::move(page));
    ad->setMuteImageFilename(cacheResource(muteImage));
    ad->setUnmuteImageFilename(cacheResource(unmuteImage));
    ad->setPresentationMode(presentationModeFromString(presentation, ad));
    ad->setStoreKitParameters(storeKit);
    ad->setCloseButtonStyle(closeButtonStyleFromNumber(closeStyle, ad));
    ad->setVideoButtonHTMLSource(buttonHtml);
    ad->setVideoButtonProperties(NSObject::alloc<HLVideoButtonProperties>()->initWithSdk(sdk, buttonProperties));

    notifyDelegateOfAd(ad);
    logger()->d(tag(), "Finished rendering an ad of size %@ and type %@.", size, type);
}

uint32_t HLTaskRenderIOSAd::presentationModeFromString(const std::optional<std::string>& text, const Ref<HLAd>& ad) {
    if (text) {
        if (HLUtils::hl_containsSubstringIgnoringCase(*text, "view_controller") ||
            HLUtils::hl_containsSubstringIgnoringCase(*text, "activity"))
            return 1;
        if (HLUtils::hl_containsSubstringIgnoringCase(*text, "dialog")) return 0;
    }
    return ad && ad->isVideoAd() ? 1 : 0;
}

uint32_t HLTaskRenderIOSAd::closeButtonStyleFromNumber(const Value& number, const Ref<HLAd>& ad) {
    if (number.isNull()) return ad && ad->videoFilename() ? 1 : 0;
    return number.integerValue() == 1 ? 1 : 0;
}

// ---- Page resources

std::string HLTaskRenderIOSAd::cacheNonVideoResources(const std::string& page) {
    const Ref<HLSdk>& sdk = this->sdk();
    if (!sdk->boolForKey(kHLRenderSlotResourceCacheEnabled)) {
        logger()->d(tag(), "Resource caching is disabled, skipping cache...");
        return page;
    }
    const HLRenderDelimiters delimiters(sdk->stringForKey(kHLRenderSlotDelimiters).value_or("") + "\"");
    // An empty prefix (a trailing comma) would match everywhere: left out.
    std::vector<std::string> prefixes;
    for (std::string& prefix :
         NSString::componentsSeparatedByString(sdk->stringForKey(kHLSlotResourceCachePrefix).value_or(""), ","))
        if (!prefix.empty()) prefixes.push_back(std::move(prefix));

    std::string rewritten;                // the page once a copy is in place in it
    const std::string* current = &page;  // the page as the next scan finds it
    for (const std::string& prefix : prefixes) {
        // Skips ahead by the prefix's last byte: a page full of its first
        // byte costs no comparison at each of them.
        const std::boyer_moore_horspool_searcher searcher(prefix.begin(), prefix.end());
        // Each scan covers the whole page from its start and moves forward
        // at every step, past a copy's local URL once it is in place. The
        // page is made anew as the scan goes, not shifted at each copy.
        std::string scanned;
        size_t copied = 0;  // how much of the page `scanned` holds
        size_t start = 0;
        const std::string& scanning = *current;
        while (start < scanning.size()) {
            const auto found = std::search(scanning.cbegin() + static_cast<std::ptrdiff_t>(start), scanning.cend(), searcher);
            if (found == scanning.cend()) break;
            const auto match = static_cast<size_t>(found - scanning.cbegin());
            const size_t end = delimiters.firstFrom(scanning, match);
            if (end == std::string::npos || end == match) {
                logger()->w(tag(), "Unable to parse HTML: no delimiter found");
                return page;
            }
            const std::string url = scanning.substr(match, end - match);
            if (std::optional<std::string> local = cacheHTMLResource(url, prefix)) {
                if (scanned.empty()) scanned.reserve(scanning.size());
                scanned.append(scanning, copied, match - copied).append(*local);
                copied = end;
                start = end;
            } else {
                start = match + prefix.size();
            }
        }
        if (copied > 0) {
            rewritten = std::move(scanned.append(scanning, copied));
            current = &rewritten;
        }
    }
    return current == &page ? page : std::move(rewritten);
}

std::optional<std::string> HLTaskRenderIOSAd::cacheHTMLResource(const std::string& url, const std::string& prefix) {
    const Ref<HLFileManager> files = fileManager();
    if (!files) return std::nullopt;
    const std::string name = NSString::stringByReplacingOccurrencesOfString(url.substr(prefix.size()), "/", "_");
    if (!isSafeResourceName(name)) {
        logger()->w(tag(), "Not caching %@: no usable file name", platform::urlForLog(url));
        return std::nullopt;
    }
    if (std::optional<std::string> cached = cachedResourceURLString(files, name)) return cached;
    if (!loadAndSaveResource(url, name)) return std::nullopt;
    return files->urlStringForResourceNamed(name);
}
