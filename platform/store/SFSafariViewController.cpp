#include "platform/store/SFSafariViewController.h"

#include <cctype>
#include <mutex>

#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"

namespace platform {

namespace {

struct Presented {
    std::mutex mutex;
    std::vector<Ref<NSURL>> urls;

    static Presented& shared() {
        // Never destroyed: other threads may use it during exit.
        static Presented& presented = *new Presented();
        return presented;
    }
};

bool isWebScheme(const std::string& scheme) {
    std::string lower = scheme;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "http" || lower == "https";
}

}  // namespace

Ref<SFSafariViewController> SFSafariViewController::initWithURL(const Ref<NSURL>& url) {
    if (!url || !isWebScheme(url->scheme())) {
        logError("SFSafariViewController: only http and https URLs open, not " +
                 (url ? urlForLog(url->absoluteString()) : std::string("(null)")));
        return nullptr;
    }
    url_ = url;
    return self<SFSafariViewController>();
}

void SFSafariViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (!url_) return;
    logInfo("browser sheet: " + urlForLog(url_->absoluteString()));
    auto& presented = Presented::shared();
    std::lock_guard lock(presented.mutex);
    presented.urls.push_back(url_);
}

std::vector<Ref<NSURL>> SFSafariViewController::presentedURLs() {
    auto& presented = Presented::shared();
    std::lock_guard lock(presented.mutex);
    return presented.urls;
}

void SFSafariViewController::simulateDone(const Ref<SFSafariViewController>& controller) {
    assertMainThread("SFSafariViewController::simulateDone");
    if (!controller) return;
    if (auto delegate = controller->delegate()) delegate->safariViewControllerDidFinish(controller);
}

}  // namespace platform
