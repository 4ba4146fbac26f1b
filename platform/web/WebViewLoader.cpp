#include "platform/web/WebViewLoader.h"

#include <cctype>

#include "platform/net/NSURLError.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/ui/UIApplication.h"
#include "platform/web/HTMLTree.h"

namespace platform::web {

namespace {

// Navigations one web view may have waiting, and the bytes of their URLs; a
// storm beyond either is dropped (logged).
constexpr size_t kMaximumQueuedNavigations = 10000;
constexpr size_t kMaximumQueuedURLBytes = size_t{8} << 20;
// Back-forward entries kept (the oldest go first).
constexpr size_t kMaximumHistory = 100;

std::string schemeOf(const Ref<NSURL>& url) {
    std::string s = url ? url->scheme() : "";
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool isWeb(const std::string& scheme) { return scheme == "http" || scheme == "https"; }

std::string withoutFragment(const std::string& text) { return text.substr(0, text.find('#')); }

Ref<NSError> webKitError(int64_t code, const Ref<NSURL>& url) {
    return NSError::errorWithDomain(
        WebKitErrorDomain, code,
        Value::dictionary({
            {NSLocalizedDescriptionKey, code == 101 ? "The URL can’t be shown" : "Frame load interrupted"},
            {NSErrorFailingURLKey, Value(url)},
            {NSErrorFailingURLStringKey, url ? url->absoluteString() : ""},
        }));
}

// A fetch for the web view: each redirect goes to the delegate first; one it
// refuses (or the web view gave up on) ends the connection.
class Fetch : public NSObject, public NSURLConnectionDataDelegate {
public:
    Fetch(Weak<WebViewLoader> loader, uint64_t id) : loader_(std::move(loader)), id_(id) {}

    Ref<NSURLRequest> connectionWillSendRequest(Ref<NSURLConnection> connection, Ref<NSURLRequest> request,
                                                Ref<NSURLResponse> redirectResponse) override {
        if (!redirectResponse) return request;
        auto loader = loader_.lock();
        Ref<NSURLRequest> next = loader ? redirect(*loader, request) : nullptr;
        if (!next) connection->cancel();
        return next;
    }

protected:
    virtual Ref<NSURLRequest> redirect(WebViewLoader& loader, const Ref<NSURLRequest>& request) = 0;

    Weak<WebViewLoader> loader_;
    uint64_t id_;
};

// The top-level fetch: the body kept (bounded), the end reported.
class TopLevelFetch : public Fetch {
public:
    using Fetch::Fetch;

    void connectionDidReceiveResponse(Ref<NSURLConnection>, Ref<NSURLResponse> response) override {
        url_ = response ? response->URL() : nullptr;
    }
    void connectionDidReceiveData(Ref<NSURLConnection> connection, const NSData& data) override {
        if (body_.size() + data.length() <= kMaximumDocumentBytes) {
            body_.append(data.stringView());
            return;
        }
        // The page is cut: the rest is not fetched.
        body_.append(data.stringView().substr(0, kMaximumDocumentBytes - body_.size()));
        connection->cancel();
        connectionDidFinishLoading(connection);
    }
    void connectionDidFinishLoading(Ref<NSURLConnection> connection) override {
        if (auto loader = loader_.lock())
            loader->topLevelFetched(id_, url_ ? url_ : connection->currentRequest()->URL(), body_);
    }
    void connectionDidFailWithError(Ref<NSURLConnection>, Ref<NSError> error) override {
        if (auto loader = loader_.lock()) loader->fail(id_, error);
    }

private:
    Ref<NSURLRequest> redirect(WebViewLoader& loader, const Ref<NSURLRequest>& request) override {
        return loader.topLevelRedirect(id_, request);
    }
    Ref<NSURL> url_;
    std::string body_;
};

// A frame's fetch: the body discarded.
class FrameFetch : public Fetch {
public:
    using Fetch::Fetch;

    void connectionDidFinishLoading(Ref<NSURLConnection>) override { ended(); }
    void connectionDidFailWithError(Ref<NSURLConnection>, Ref<NSError>) override { ended(); }

private:
    Ref<NSURLRequest> redirect(WebViewLoader& loader, const Ref<NSURLRequest>& request) override {
        return loader.frameRedirect(id_, request);
    }
    void ended() {
        if (auto loader = loader_.lock()) loader->frameEnded(id_);
    }
};

}  // namespace

WebViewLoader::WebViewLoader(const Ref<UIWebView>& view, const Ref<JSContext>& context)
    : view_(view), context_(context) {
    page_ = PageEnvironment::install(context, this);
}

void WebViewLoader::shutdown() {
    ++epoch_;
    clearDeferred();
    if (load_ && load_->connection) load_->connection->cancel();
    load_.reset();
    cancelFrames();
    page_->detach();
}

template <class Call> void WebViewLoader::deliver(Call call) {
    // The delegate is read at every delivery, and the web view holds itself
    // meanwhile: a delegate may drop the last reference to it.
    Ref<UIWebView> view = view_.lock();
    Ref<UIWebViewDelegate> delegate = view ? view->delegate() : nullptr;
    if (delegate) runtime::callAtBoundary([&] { call(*delegate, view); }, "web view delegate");
}

bool WebViewLoader::ask(const NSURLRequest& request, UIWebViewNavigationType type) {
    bool answer = true;
    deliver([&](UIWebViewDelegate& d, const Ref<UIWebView>& v) { answer = d.webViewShouldStartLoadWithRequest(v, request, type); });
    return answer;
}

Ref<NSURLRequest> WebViewLoader::offeredRequest(const NSURLRequest& request, const Ref<NSURL>& mainDocumentURL) {
    auto offered = request.mutableCopy();
    offered->setMainDocumentURL(mainDocumentURL);
    return offered;
}

Ref<NSURLRequest> WebViewLoader::offeredRequest(const Ref<NSURL>& url, const Ref<NSURL>& mainDocumentURL) {
    auto offered = NSMutableURLRequest::requestWithURL(url);
    offered->setMainDocumentURL(mainDocumentURL);
    return offered;
}

Ref<NSURLRequest> WebViewLoader::request() const { return load_ ? load_->request : currentRequest_; }

// ---- queueing and offering -----------------------------------------------------------------

bool WebViewLoader::roomToWait(const Navigation& navigation) {
    const std::string& target = navigation.request->URL()->absoluteString();
    const size_t waiting = queued_ + deferred_.size();
    if (waiting < kMaximumQueuedNavigations && queuedURLBytes_ + deferredURLBytes_ + target.size() <= kMaximumQueuedURLBytes)
        return true;
    page_->logPageLine("web view: navigation dropped",
                       "web view: too many navigations waiting; dropped: " + urlForLog(target));
    return false;
}

void WebViewLoader::clearDeferred() {
    deferred_.clear();
    deferredURLBytes_ = 0;
}

void WebViewLoader::queue(Navigation navigation) {
    if (!roomToWait(navigation)) return;
    ++queued_;
    queuedURLBytes_ += navigation.request->URL()->absoluteString().size();
    navigation.epoch = epoch_;
    Weak<UIWebView> weakView = view_;
    runtime::postToMainThread([weakView, navigation = std::move(navigation)] {
        Ref<UIWebView> view = weakView.lock();
        if (view && view->loader_) view->loader_->offer(navigation);
    });
}

void WebViewLoader::loadHTMLString(const std::string& html, const Ref<NSURL>& baseURL) {
    Ref<NSURL> target = baseURL ? baseURL : NSURL::URLWithString("about:blank");
    Navigation n;
    n.request = offeredRequest(target, target);
    n.html = html;
    n.baseURL = baseURL;
    queue(std::move(n));
}

void WebViewLoader::loadRequest(const NSURLRequest& request) {
    if (!request.URL()) return;
    Navigation n;
    n.request = offeredRequest(request, request.URL());
    queue(std::move(n));
}

void WebViewLoader::reload() {
    if (historyIndex_ < 0) return;
    const Entry& entry = history_[static_cast<size_t>(historyIndex_)];
    Navigation n;
    n.request = offeredRequest(*currentRequest_, currentRequest_->URL());
    n.type = UIWebViewNavigationTypeReload;
    n.html = entry.html;
    n.baseURL = entry.baseURL;
    n.historyIndex = historyIndex_;
    queue(std::move(n));
}

void WebViewLoader::goBack() {
    if (!canGoBack()) return;
    const Entry& entry = history_[static_cast<size_t>(historyIndex_ - 1)];
    Navigation n{offeredRequest(*entry.request, entry.request->URL()), UIWebViewNavigationTypeBackForward, false,
                 entry.html, entry.baseURL, historyIndex_ - 1, 0};
    queue(std::move(n));
}

void WebViewLoader::goForward() {
    if (!canGoForward()) return;
    const Entry& entry = history_[static_cast<size_t>(historyIndex_ + 1)];
    Navigation n{offeredRequest(*entry.request, entry.request->URL()), UIWebViewNavigationTypeBackForward, false,
                 entry.html, entry.baseURL, historyIndex_ + 1, 0};
    queue(std::move(n));
}

void WebViewLoader::pageRequestsNavigation(const Ref<NSURL>& url, NavigationKind kind) {
    // Frames load alongside their page; anything that would replace the page
    // waits for its finish, so every start is followed by its own finish.
    bool wait = load_ && load_->committing && kind != NavigationKind::Frame;
    if (kind == NavigationKind::Reload) {
        if (wait) deferred_.push_back([this] { reload(); });
        else reload();
        return;
    }
    Navigation n;
    n.frame = kind == NavigationKind::Frame;
    n.type = kind == NavigationKind::Link ? UIWebViewNavigationTypeLinkClicked : UIWebViewNavigationTypeOther;
    n.request = offeredRequest(url, n.frame ? page_->documentURL() : url);
    if (!wait) {
        queue(std::move(n));
    } else if (roomToWait(n)) {
        deferredURLBytes_ += n.request->URL()->absoluteString().size();
        deferred_.push_back([this, n] { queue(n); });
    }
}

CGSize WebViewLoader::pageViewportSize() const {
    Ref<UIWebView> view = view_.lock();
    return view ? view->bounds().size : CGSize{};
}

bool WebViewLoader::isFragmentChange(const Ref<NSURL>& url) const {
    const std::string& target = url->absoluteString();
    return target.find('#') != std::string::npos &&
           withoutFragment(target) == withoutFragment(page_->documentURL()->absoluteString());
}

void WebViewLoader::offer(const Navigation& navigation) {
    --queued_;
    queuedURLBytes_ -= navigation.request->URL()->absoluteString().size();
    if (navigation.epoch != epoch_) return;
    if (!ask(*navigation.request, navigation.type)) return;  // a refusal reports nothing more
    if (navigation.frame) {
        startFrame(navigation);
    } else if (!navigation.html && !navigation.historyIndex && isFragmentChange(navigation.request->URL())) {
        // Only the URL changes: no load.
        Ref<NSURL> url = navigation.request->URL();
        page_->setDocumentURL(url);
        if (currentRequest_) currentRequest_ = offeredRequest(url, url);
        if (historyIndex_ >= 0) history_[static_cast<size_t>(historyIndex_)].request = currentRequest_;
    } else {
        begin(navigation);
    }
}

// ---- top-level loads -----------------------------------------------------------------------

void WebViewLoader::begin(const Navigation& navigation) {
    Ref<UIWebView> keep = view_.lock();
    if (load_) fail(load_->id, net::urlError(NSURLErrorCancelled, load_->request->URL()));
    uint64_t id = ++nextLoadId_;
    load_ = Load{id, navigation, navigation.request, nullptr};
    deliver([](UIWebViewDelegate& d, const Ref<UIWebView>& v) { d.webViewDidStartLoad(v); });
    if (!isCurrent(id)) return;  // stopped or replaced by the delegate

    Ref<NSURL> url = navigation.request->URL();
    std::string scheme = schemeOf(url);
    if (navigation.html) {
        commitLater(id, navigation.baseURL ? navigation.baseURL : url, navigation.html);
    } else if (scheme == "about" || scheme == "file") {
        commitLater(id, url, std::nullopt);
    } else if (isWeb(scheme)) {
        auto request = navigation.request->mutableCopy();
        if (!request->valueForHTTPHeaderField("User-Agent")) request->setValue(UIWebView::userAgent(), "User-Agent");
        auto fetch = std::make_shared<TopLevelFetch>(weak_from_this(), id);
        load_->connection = NSURLConnection::connectionWithRequest(*request, fetch);
    } else {
        handOff(id, url);
    }
}

void WebViewLoader::handOff(uint64_t loadId, const Ref<NSURL>& url) {
    // The platform hands the URL to the system when something opens it.
    auto application = UIApplication::sharedApplication();
    if (application->canOpenURL(url)) {
        application->openURL(url);
        fail(loadId, webKitError(102, url));
    } else {
        fail(loadId, webKitError(101, url));
    }
}

void WebViewLoader::commitLater(uint64_t loadId, const Ref<NSURL>& url, std::optional<std::string> html) {
    Weak<UIWebView> weakView = view_;
    runtime::postToMainThread([weakView, loadId, url, html = std::move(html)] {
        Ref<UIWebView> view = weakView.lock();
        if (!view || !view->loader_ || !view->loader_->isCurrent(loadId)) return;
        WebViewLoader& loader = *view->loader_;
        if (html) {
            loader.commit(loadId, url, *html);
        } else if (schemeOf(url) == "about") {
            loader.commit(loadId, url, "");
        } else if (auto text = readFilePrefix(url->path(), kMaximumDocumentBytes)) {
            loader.commit(loadId, url, *text);
        } else {
            loader.fail(loadId, net::urlError(NSURLErrorFileDoesNotExist, url));
        }
    });
}

Ref<NSURLRequest> WebViewLoader::topLevelRedirect(uint64_t loadId, const Ref<NSURLRequest>& proposed) {
    if (!isCurrent(loadId) || !proposed || !proposed->URL()) return nullptr;
    Ref<NSURL> url = proposed->URL();
    Ref<NSURLRequest> offered = offeredRequest(*proposed, url);
    bool accepted = ask(*offered, UIWebViewNavigationTypeOther);
    if (!isCurrent(loadId)) return nullptr;
    if (!accepted) {
        if (load_->connection) load_->connection->cancel();
        fail(loadId, webKitError(102, url));
        return nullptr;
    }
    // Accepted: followed, or, for a scheme the web view cannot load, the
    // fetch fails with -1002 (NSErrorFailingURLKey = the target).
    load_->request = offered;
    return offered;
}

void WebViewLoader::topLevelFetched(uint64_t loadId, const Ref<NSURL>& url, const std::string& body) {
    if (isCurrent(loadId)) commit(loadId, url, body);
}

void WebViewLoader::commit(uint64_t loadId, const Ref<NSURL>& url, const std::string& html) {
    Ref<UIWebView> keep = view_.lock();
    if (!keep || !isCurrent(loadId)) return;
    const Navigation& navigation = load_->navigation;
    Ref<NSURLRequest> request = load_->request;
    if (!request->URL() || !request->URL()->isEqual(*url)) request = offeredRequest(url, url);
    currentRequest_ = request;
    Entry entry{request, navigation.html, navigation.baseURL};
    if (navigation.historyIndex && *navigation.historyIndex < static_cast<int64_t>(history_.size())) {
        historyIndex_ = *navigation.historyIndex;
        history_[static_cast<size_t>(historyIndex_)] = entry;
    } else {
        history_.resize(static_cast<size_t>(historyIndex_ + 1));
        history_.push_back(entry);
        if (history_.size() > kMaximumHistory) history_.erase(history_.begin());
        historyIndex_ = static_cast<int64_t>(history_.size()) - 1;
    }
    cancelFrames();
    load_->committing = true;
    bool parsed = page_->beginDocument(url, html, [this, loadId] { return isCurrent(loadId); });
    if (parsed && isCurrent(loadId)) nextPageState(loadId, false);
}

void WebViewLoader::nextPageState(uint64_t loadId, bool complete) {
    Weak<UIWebView> weakView = view_;
    runtime::postToMainThread([weakView, loadId, complete] {
        Ref<UIWebView> view = weakView.lock();
        if (view && view->loader_ && view->loader_->isCurrent(loadId)) view->loader_->advancePage(loadId, complete);
    });
}

void WebViewLoader::advancePage(uint64_t loadId, bool complete) {
    Ref<UIWebView> keep = view_.lock();
    if (!complete) {
        page_->markInteractive();
        if (isCurrent(loadId)) nextPageState(loadId, true);
        return;
    }
    page_->markComplete();
    if (!isCurrent(loadId)) return;
    load_.reset();
    deliver([](UIWebViewDelegate& d, const Ref<UIWebView>& v) { d.webViewDidFinishLoad(v); });
    auto deferred = std::move(deferred_);
    clearDeferred();
    for (auto& navigate : deferred) navigate();
}

void WebViewLoader::fail(uint64_t loadId, const Ref<NSError>& error) {
    if (!isCurrent(loadId)) return;
    Ref<UIWebView> keep = view_.lock();
    if (load_->connection) load_->connection->cancel();
    load_.reset();
    clearDeferred();
    deliver([&](UIWebViewDelegate& d, const Ref<UIWebView>& v) { d.webViewDidFailLoadWithError(v, error); });
}

void WebViewLoader::stopLoading() {
    ++epoch_;
    cancelFrames();
    clearDeferred();
    if (!load_) return;
    Ref<NSError> error = net::urlError(NSURLErrorCancelled, load_->request->URL());
    if (load_->connection) load_->connection->cancel();
    load_.reset();
    // Reported as a task, like every other callback.
    Weak<UIWebView> weakView = view_;
    runtime::postToMainThread([weakView, error] {
        Ref<UIWebView> view = weakView.lock();
        if (!view || !view->loader_) return;
        view->loader_->deliver([&](UIWebViewDelegate& d, const Ref<UIWebView>& v) { d.webViewDidFailLoadWithError(v, error); });
    });
}

// ---- frames --------------------------------------------------------------------------------

void WebViewLoader::startFrame(const Navigation& navigation) {
    // Frames have no document of their own: only web pages are fetched, and
    // only for their redirects.
    if (!isWeb(schemeOf(navigation.request->URL()))) return;
    auto request = navigation.request->mutableCopy();
    if (!request->valueForHTTPHeaderField("User-Agent")) request->setValue(UIWebView::userAgent(), "User-Agent");
    uint64_t id = ++nextFrameId_;
    auto fetch = std::make_shared<FrameFetch>(weak_from_this(), id);
    if (auto connection = NSURLConnection::connectionWithRequest(*request, fetch)) frames_[id] = connection;
}

Ref<NSURLRequest> WebViewLoader::frameRedirect(uint64_t frameId, const Ref<NSURLRequest>& proposed) {
    if (!frames_.count(frameId) || !proposed || !proposed->URL()) return nullptr;
    Ref<NSURLRequest> offered = offeredRequest(*proposed, page_->documentURL());
    bool accepted = ask(*offered, UIWebViewNavigationTypeOther);
    if (accepted && frames_.count(frameId) && isWeb(schemeOf(proposed->URL()))) return offered;
    frameEnded(frameId);  // refused: the frame is abandoned
    return nullptr;
}

void WebViewLoader::frameEnded(uint64_t frameId) {
    auto it = frames_.find(frameId);
    if (it == frames_.end()) return;
    Ref<NSURLConnection> connection = it->second;
    frames_.erase(it);
    connection->cancel();
}

void WebViewLoader::cancelFrames() {
    auto frames = std::move(frames_);
    frames_.clear();
    for (auto& [id, connection] : frames) connection->cancel();
}

}  // namespace platform::web
