// Internal to the web module: a web view's navigations and loads. Each
// navigation is queued as a main-queue task, offered to the delegate, then
// carried out: a fragment change, a frame fetched in the background, or a
// top-level load (start, fetch with redirects offered, commit into the page
// environment, its readyState "interactive" and "complete" each in a
// main-queue turn of its own, finish or fail), plus the history and the
// system hand-off of schemes the web view cannot load.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/net/NSURLConnection.h"
#include "platform/net/NSURLRequest.h"
#include "platform/web/PageEnvironment.h"
#include "platform/web/UIWebView.h"

namespace platform::web {

class WebViewLoader : public PageHost, public std::enable_shared_from_this<WebViewLoader> {
public:
    WebViewLoader(const Ref<UIWebView>& view, const Ref<JSContext>& context);
    // The web view goes away: loads and frames are cancelled, the page detached.
    void shutdown();

    void loadHTMLString(const std::string& html, const Ref<NSURL>& baseURL);
    void loadRequest(const NSURLRequest& request);
    void stopLoading();
    void reload();
    void goBack();
    void goForward();
    bool canGoBack() const { return historyIndex_ > 0; }
    bool canGoForward() const { return historyIndex_ + 1 < static_cast<int64_t>(history_.size()); }
    bool isLoading() const { return load_.has_value(); }
    Ref<NSURLRequest> request() const;
    PageEnvironment& page() { return *page_; }

    // PageHost
    void pageRequestsNavigation(const Ref<NSURL>& url, NavigationKind kind) override;
    CGSize pageViewportSize() const override;
    std::shared_ptr<void> pageRetainHost() override { return view_.lock(); }

    // From the fetches (main thread).
    Ref<NSURLRequest> topLevelRedirect(uint64_t loadId, const Ref<NSURLRequest>& proposed);
    void topLevelFetched(uint64_t loadId, const Ref<NSURL>& url, const std::string& body);
    void fail(uint64_t loadId, const Ref<NSError>& error);
    Ref<NSURLRequest> frameRedirect(uint64_t frameId, const Ref<NSURLRequest>& proposed);
    void frameEnded(uint64_t frameId);

private:
    struct Navigation {
        Ref<NSURLRequest> request;  // URL() is the target
        UIWebViewNavigationType type = UIWebViewNavigationTypeOther;
        bool frame = false;
        std::optional<std::string> html;  // a loaded HTML string
        Ref<NSURL> baseURL;               // its base (null: "about:blank")
        std::optional<int64_t> historyIndex;  // back, forward and reload
        uint64_t epoch = 0;
    };
    struct Entry {
        Ref<NSURLRequest> request;
        std::optional<std::string> html;
        Ref<NSURL> baseURL;
    };
    struct Load {
        uint64_t id = 0;
        Navigation navigation;
        Ref<NSURLRequest> request;  // the current hop
        Ref<NSURLConnection> connection;
        bool committing = false;    // the document is in, its states still to come
    };

    static Ref<NSURLRequest> offeredRequest(const NSURLRequest& request, const Ref<NSURL>& mainDocumentURL);
    // The same for a plain request of `url`, made once.
    static Ref<NSURLRequest> offeredRequest(const Ref<NSURL>& url, const Ref<NSURL>& mainDocumentURL);
    // Whether one more navigation may wait (else it is dropped, logged).
    bool roomToWait(const Navigation& navigation);
    void queue(Navigation navigation);
    void clearDeferred();
    void offer(const Navigation& navigation);
    bool ask(const NSURLRequest& request, UIWebViewNavigationType type);
    void begin(const Navigation& navigation);
    void startFrame(const Navigation& navigation);
    void commitLater(uint64_t loadId, const Ref<NSURL>& url, std::optional<std::string> html);
    void commit(uint64_t loadId, const Ref<NSURL>& url, const std::string& html);
    // Posts the document's next state (interactive, then complete and the finish).
    void nextPageState(uint64_t loadId, bool complete);
    void advancePage(uint64_t loadId, bool complete);
    void handOff(uint64_t loadId, const Ref<NSURL>& url);
    bool isCurrent(uint64_t loadId) const { return load_ && load_->id == loadId; }
    bool isFragmentChange(const Ref<NSURL>& url) const;
    void cancelFrames();
    template <class Call> void deliver(Call call);

    Weak<UIWebView> view_;
    Weak<JSContext> context_;
    std::shared_ptr<PageEnvironment> page_;
    uint64_t epoch_ = 0;  // stopLoading drops navigations queued before it
    size_t queued_ = 0;
    size_t queuedURLBytes_ = 0;
    uint64_t nextLoadId_ = 0;
    std::optional<Load> load_;
    Ref<NSURLRequest> currentRequest_;  // the current document's
    std::vector<Entry> history_;
    int64_t historyIndex_ = -1;
    uint64_t nextFrameId_ = 0;
    std::map<uint64_t, Ref<NSURLConnection>> frames_;
    // Navigations the page asked for while it was loading: offered after its finish.
    std::vector<std::function<void()>> deferred_;
    size_t deferredURLBytes_ = 0;
};

}  // namespace platform::web
