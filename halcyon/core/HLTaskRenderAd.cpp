#include "halcyon/core/HLTaskRenderAd.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLUtils.h"
#include "platform/foundation/NSString.h"
#include "platform/net/NSURLConnection.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"

namespace {
constexpr const char* kHLRenderClcodeMacro = "{CLCODE}";
}  // namespace

Ref<HLTaskRenderAd> HLTaskRenderAd::initWithSdk(const Ref<HLSdk>& sdk) {
    HLTask::initWithSdk(sdk);
    return self<HLTaskRenderAd>();
}

Ref<HLFileManager> HLTaskRenderAd::fileManager() const { return sdk() ? sdk()->fileManager() : nullptr; }

void HLTaskRenderAd::run() {
    logger()->d(tag(), "Rendering ad...");
    running_ = true;
    auto caught = platform::runtime::callCatching([&] { processAd(adResponse_); });
    running_ = false;
    cacheFolder_ = HLFileManager::OpenFolder();
    if (caught) {
        logger()->e(tag(), "Unable to render an ad: %@", platform::shortenedForLog(*caught));
        handleFailedAdRenderForAdSize(nullptr, nullptr, -1);
    }
}

void HLTaskRenderAd::processAd(const Value&) {}

// ---- Outcome

void HLTaskRenderAd::notifyDelegateOfAd(const Ref<HLAd>& ad) {
    if (!claimAnswer()) return;
    if (delegate_) delegate_->adServiceDidLoadAd(sdk()->adService(), ad);
}

void HLTaskRenderAd::handleFailedAdRenderForAdSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type,
                                                   int32_t code) {
    if (!claimAnswer()) return;
    HLNotifyLoadFailure(delegate_, sdk()->adService(), HLAdSpec::specWithSize(size, type), code);
}

void HLTaskRenderAd::taskDropped() { handleFailedAdRenderForAdSize(nullptr, nullptr, -1); }

// ---- Resources

bool HLTaskRenderAd::isSafeResourceName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

bool HLTaskRenderAd::isResponseSuccess(const Ref<NSURLResponse>& response) {
    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
    return http && http->statusCode() >= 200 && http->statusCode() <= 299;
}

std::optional<std::string> HLTaskRenderAd::processAdVideo(const std::optional<std::string>& url,
                                                          const Ref<HLAdType>&) {
    return cacheResource(url);
}

std::optional<std::string> HLTaskRenderAd::cacheResource(const std::optional<std::string>& url) {
    if (!url) {
        logger()->d(tag(), "Nothing to cache, skipping...");
        return std::nullopt;
    }
    Ref<NSURL> parsed = NSURL::URLWithString(*url);
    std::string name = parsed ? parsed->lastPathComponent() : std::string();
    if (!isSafeResourceName(name)) {
        logger()->e(tag(), "Unable to cache %@: no usable file name", platform::urlForLog(*url));
        return std::nullopt;
    }
    if (!loadAndSaveResource(*url, name)) return std::nullopt;
    logger()->d(tag(), "Caching succeeded for video file: %@", platform::shortenedForLog(name));
    return name;
}

std::optional<std::string> HLTaskRenderAd::cachedResourceURLString(const Ref<HLFileManager>& files,
                                                                   const std::string& name) {
    if (!running_) return files->cachedResourceURLString(name);
    if (!cacheFolder_.isOpen()) cacheFolder_ = files->openFolder();
    return files->cachedResourceURLString(name, cacheFolder_);
}

bool HLTaskRenderAd::loadAndSaveResource(const std::string& url, const std::string& name) {
    Ref<HLFileManager> files = fileManager();
    if (!files || !isSafeResourceName(name)) return false;
    if (cachedResourceURLString(files, name)) {
        logger()->d(tag(), "Resource %@ already exists on filesystem...", platform::shortenedForLog(name));
        return true;
    }
    if (!HLUtils::isDomainWhitelisted(sdk()->settingsManager(), url)) {
        logger()->d(tag(), "Domain is not whitelisted, skipping precache for resource URL %@",
                    platform::urlForLog(url));
        return false;
    }
    logger()->d(tag(), "Loading and saving %@...", platform::urlForLog(url));
    Ref<NSURLRequest> request = HLUtils::hl_URLRequest(HLConnectionManager::upgradedForSsl(url, sdk(), tag()));
    if (request && !HLConnectionManager::isFetchable(request->URL(), logger(), tag())) return false;
    Ref<NSURLResponse> response;
    Ref<NSError> error;
    std::optional<NSData> body;
    if (request && request->URL()) body = NSURLConnection::sendSynchronousRequest(request, &response, &error);
    else error = NSError::errorWithDomain("HLTaskRenderAd", -1, Value::dictionary({{"NSLocalizedDescription", "not a URL"}}));
    if (!error && body && body->length() > 0 && isResponseSuccess(response)) {
        // The write may have made the folder anew: the next look opens it again.
        cacheFolder_ = HLFileManager::OpenFolder();
        if (files->cacheResourceWithData(*body, name)) {
            logger()->d(tag(), "%@ cached", platform::shortenedForLog(name));
            return true;
        }
        logger()->e(tag(), "Unable to cache %@", platform::shortenedForLog(name));
        return false;
    }
    if (error)
        logger()->e(tag(), "Unable to download %@: %@", platform::shortenedForLog(name), error);
    else
        logger()->e(tag(), "Unable to download %@: empty response", platform::shortenedForLog(name));
    return false;
}

Ref<NSURL> HLTaskRenderAd::replaceURLString(const Value& string, std::string_view clcode) {
    const std::string* text = string.string();
    if (!text || text->empty()) return nullptr;
    std::optional<std::string> replaced = renderBudget_.expand(*text, kHLRenderClcodeMacro, clcode);
    if (!replaced) return nullptr;
    const std::string escaped = HLUtils::hl_stringByAddingPercentEscapesUsingUTF8Encoding(*replaced);
    if (!renderBudget_.admitAddress(escaped)) return nullptr;
    Ref<NSURL> url = NSURL::URLWithString(escaped);
    if (!url) logger()->w(tag(), "Ignoring an ad URL that does not parse: %@", platform::urlForLog(*text));
    return url;
}
