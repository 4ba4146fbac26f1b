// libFuzzer target: arbitrary bytes loaded as a page into a web view, whose
// delegate lets only the test's own loads through. The page's scripts, events
// and timers due at once run, then the view is drawn into a snapshot, as the
// page's scripts left it; nothing may crash, leak or hang.
#include <cstdint>
#include <string>

#include "platform/foundation/QuietPlatform.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/web/JSVirtualMachine.h"
#include "platform/web/UIWebView.h"

namespace {

class OwnLoadsOnly : public NSObject, public UIWebViewDelegate {
public:
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request,
                                           UIWebViewNavigationType) override {
        const std::string& url = request.URL()->absoluteString();
        return url == "http://fuzz.example.com/" || url.rfind("about:", 0) == 0;
    }
};

// The platform's home folder: the snapshot is written there.
std::string home;

Ref<UIWebView> makeView() {
    home = platform::startQuietPlatform("web-fuzz");
    JSVirtualMachine::setExecutionTimeLimit(0.05);
    auto view = UIWebView::alloc();
    view->initWithFrame(CGRect{{0, 0}, {320, 480}});
    static auto delegate = std::make_shared<OwnLoadsOnly>();
    view->setDelegate(delegate);
    return view;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Ref<UIWebView> view = makeView();
    view->loadHTMLString(std::string(reinterpret_cast<const char*>(data), size), NSURL::URLWithString("http://fuzz.example.com/"));
    // Passes without moving the clock, bounded: a page may keep re-arming work.
    for (int i = 0; i < 500 && (platform::runtime::hasPostedWork() || platform::runtime::hasDueTimer()); ++i)
        platform::runtime::runMainPass();
    view->renderToPNG(home + "/snapshot.png");
    return 0;
}
