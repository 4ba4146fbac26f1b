// Turns one ad answer into an HLAd that shows offline and hands it to the
// load delegate: the base of the render tasks, with the caching steps. Runs
// on task queue 0; its downloads are synchronous there, one after another,
// and only from hosts under slot 31's prefixes. The delegate hears exactly
// one outcome, on that queue: the ad, or -1 (no usable page; also when the
// task is dropped unrun or fails inside), -200 (the video could not be
// cached) or -700 (the page or an address would pass the render's bounds,
// HLRenderBudget). Resource names that could leave the cache folder are
// refused.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLRenderBudget.h"
#include "halcyon/core/HLTask.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"

namespace platform {
class NSURLResponse;
}

class HLAd;
class HLAdSize;
class HLAdType;

class HLTaskRenderAd : public HLTask, public HLTimedTask {
public:
    Ref<HLTaskRenderAd> initWithSdk(const Ref<HLSdk>& sdk);

    // Logs "Rendering ad..." and processes the answer.
    void run() override;

    // The parsed answer (a dictionary; anything else renders nothing).
    const Value& adResponse() const { return adResponse_; }
    void setAdResponse(Value response) { adResponse_ = std::move(response); }
    // Held until the outcome is handed on.
    const Ref<HLAdLoadDelegate>& delegate() const { return delegate_; }
    void setDelegate(Ref<HLAdLoadDelegate> delegate) { delegate_ = std::move(delegate); }
    bool wasVideoCached() const { return wasVideoCached_; }
    Ref<HLFileManager> fileManager() const;

    bool isTimed() const override { return true; }
    bool isVideoTask() const override { return wasVideoCached_; }

    // The cached video's name, or nullopt.
    std::optional<std::string> processAdVideo(const std::optional<std::string>& url, const Ref<HLAdType>& type);
    // A video or image: cached under the URL's last path component; that
    // name, or nullopt for no URL, an unsafe name or a failed download.
    std::optional<std::string> cacheResource(const std::optional<std::string>& url);
    // The file manager's cachedResourceURLString; while the task runs, in
    // the cache folder it opened at its first look (closed when it ends).
    std::optional<std::string> cachedResourceURLString(const Ref<HLFileManager>& files, const std::string& name);
    // Cached already, or fetched (http or https, 2xx, non-empty) from an
    // allowed prefix and written; force_ssl fetches "http://" as "https://"
    // under the same name.
    bool loadAndSaveResource(const std::string& url, const std::string& name);
    // Every "{CLCODE}" replaced, escaped, made a URL; null for a value that
    // is no non-empty string or no URL, or that passes the render's bounds
    // (the budget is then spent).
    Ref<platform::NSURL> replaceURLString(const Value& string, std::string_view clcode);
    // What this run may still make of the answer.
    HLRenderBudget& renderBudget() { return renderBudget_; }
    // An HTTP response with a 2xx status.
    static bool isResponseSuccess(const Ref<platform::NSURLResponse>& response);
    // Not empty, not "." or "..", no "/" and no NUL: a name that stays a
    // file directly inside the cache folder.
    static bool isSafeResourceName(std::string_view name);

protected:
    // The base renders nothing.
    virtual void processAd(const Value& response);
    // Failure `code` to the delegate with the spec of `size` and `type`.
    void handleFailedAdRenderForAdSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type, int32_t code);
    void notifyDelegateOfAd(const Ref<HLAd>& ad);
    void setWasVideoCached(bool cached) { wasVideoCached_ = cached; }
    void taskDropped() override;

private:
    bool claimAnswer() { return !answered_.exchange(true); }

    Value adResponse_;
    Ref<HLAdLoadDelegate> delegate_;
    HLRenderBudget renderBudget_;
    bool wasVideoCached_ = false;
    bool running_ = false;
    HLFileManager::OpenFolder cacheFolder_;  // while running, from the first look on
    std::atomic<bool> answered_{false};
};
