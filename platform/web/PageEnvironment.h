// Internal to the web module: the page environment of a web view's context.
// It evaluates the compiled-in prelude over native hooks (navigation, timers
// on the clock, HTML parsing, URL parts, logging), loads each document into
// a fresh global scope and runs its scripts, freezes a page that the time
// limit or its heap budget stopped (keeping its markup and letting its scope
// go), gives the current document's markup for drawing, and hands the
// navigations pages ask for to its host, the web view.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/NSURL.h"
#include "platform/runtime/RunLoopTimer.h"
#include "platform/ui/CGGeometry.h"
#include "platform/web/JSContext.h"

namespace platform::web {

enum class NavigationKind { Script, Link, Frame, Reload };

class PageHost {
public:
    virtual ~PageHost() = default;
    // A navigation the page asks for, resolved against the document URL. The
    // host queues it; it never runs inside the page's script.
    virtual void pageRequestsNavigation(const Ref<NSURL>& url, NavigationKind kind) = 0;
    virtual CGSize pageViewportSize() const = 0;
    // Keeps the host alive while page script runs (script may drop its last owner).
    virtual std::shared_ptr<void> pageRetainHost() = 0;
};

// URLs a page may navigate to or load from are at most this long; longer
// ones are refused with a log line.
inline constexpr size_t kMaximumURLLength = 64 * 1024;

// Reads at most `maxBytes` of a file; nullopt when it cannot be read.
std::optional<std::string> readFilePrefix(const std::string& path, size_t maxBytes);
// A (trimmed) URL text a page gives, resolved against `base` as browsers do:
// characters a URL cannot hold are escaped. Null when it is no URL.
Ref<NSURL> resolvePageURL(const std::string& text, const Ref<NSURL>& base);

class PageEnvironment : public std::enable_shared_from_this<PageEnvironment> {
public:
    // Evaluates the prelude in `context` and starts with an empty
    // "about:blank" document; what native code sets up in it before the
    // first page is kept for later pages. The host must outlive the
    // environment or call detach() first.
    static std::shared_ptr<PageEnvironment> install(const Ref<JSContext>& context, PageHost* host);
    ~PageEnvironment();
    PageEnvironment(const PageEnvironment&) = delete;
    PageEnvironment& operator=(const PageEnvironment&) = delete;

    // Replaces the document with `html` at `url`: builds it and runs its
    // scripts in order while document.readyState is "loading". Stops
    // (answering false) as soon as `keepGoing` answers false between scripts.
    // The web view then takes the document through the next two states in
    // main-queue turns of their own.
    // Each document has a fresh global scope (the first page takes the scope
    // native code set up before it, unless that froze): the prelude, the
    // globals native code set, and the scripts it evaluated before the first
    // page. The replaced scope is torn down and its memory collected.
    bool beginDocument(const Ref<NSURL>& url, std::string_view html, const std::function<bool()>& keepGoing);
    // readyState "interactive", then DOMContentLoaded.
    void markInteractive();
    // readyState "complete", then the load event; a meta refresh is scheduled.
    void markComplete();
    // A fragment navigation: only the URL changes.
    void setDocumentURL(const Ref<NSURL>& url);
    const Ref<NSURL>& documentURL() const { return documentURL_; }

    // The current document as the page's scripts left it, as markup for
    // drawing (scripts, comments and elements nested deeper than
    // kMaximumDepth left out), within PageDrawing's bounds.
    // It is read without running anything the page defined and changes
    // nothing. A frozen page answers the markup it had when it froze, kept
    // then, as its scope is let go at once.
    struct DrawingMarkup {
        std::string markup;  // "" when there is no document to draw
        // The bound the document is over, described ("10000 elements"): the
        // markup then holds the document up to the bound and, past it, only
        // the elements its background is drawn from
        // (PageDrawing::kBackgroundElements).
        std::optional<std::string> bound;
    };
    DrawingMarkup markupForDrawing() const;

    // Seams: the element with the id is clicked (false when there is none);
    // the first anchor with the href is clicked, else the href is followed.
    bool clickElement(const std::string& elementId);
    void clickHref(const std::string& href);

    // Cancels the document's timers and refresh (stopLoading, tear-down).
    void cancelTimers();
    // The host goes away: no further calls reach it.
    void detach();

    // A warning the page's loads, navigations or calls give, through the
    // page's fold (PageLog) with the other lines of `kind`: a page that
    // reloads itself or navigates in a loop must not flood the log.
    void logPageLine(std::string_view kind, std::string line) const;

    // Native hooks (called from the prelude).
    void requestNavigation(const std::string& text, NavigationKind kind);
    void setTimer(int64_t id, double milliseconds);
    void clearTimer(int64_t id);
    CGSize viewportSize() const;

private:
    PageEnvironment() = default;
    Ref<JSContext> context() const { return context_.lock(); }
    // A URL the page gives, resolved against the document URL; null when it
    // is no URL or over kMaximumURLLength.
    Ref<NSURL> resolve(std::string_view text) const;
    // The prelude over the native hooks in the context's current scope, with
    // an empty, complete "about:blank" document.
    void installScope();
    // A fresh scope for the next document, with what native code set up.
    void renewScope();
    // The prelude's commit of `html` at `url` as the scope's document: it
    // answers the document's scripts ({src, type, text}) in order.
    JSValue commitDocument(const Ref<NSURL>& url, std::string_view html);
    // A script that ran into the time limit or over the heap budget froze
    // the page: none of its scripts, timers or events run again.
    bool frozen() const;
    // The page froze: its markup is kept for drawing and its scope let go.
    void pageFroze();
    // The prelude's markup of the current document within the drawing's bounds.
    DrawingMarkup currentMarkup() const;
    void fireTimer(int64_t id, uint64_t generation);
    // Runs one step of page script; false once the page is frozen.
    bool runStep(const std::function<void()>& step);
    void runScripts(const Value& scripts, const std::function<bool()>& keepGoing);
    std::optional<std::string> loadScriptSource(const Ref<NSURL>& url);
    void scheduleRefresh();

    Weak<JSContext> context_;
    PageHost* host_ = nullptr;
    JSValue env_;  // the prelude's control object
    Ref<NSURL> documentURL_;
    uint64_t generation_ = 0;  // one per document
    std::map<int64_t, Ref<runtime::RunLoopTimer>> timers_;
    Ref<runtime::RunLoopTimer> refreshTimer_;
    // A frozen document's markup for drawing, kept when it froze.
    std::optional<DrawingMarkup> frozenMarkup_;
};

}  // namespace platform::web
