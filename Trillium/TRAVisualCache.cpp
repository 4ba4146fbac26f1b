#include "Trillium/TRAVisualCache.h"

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRADisplayHooks.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UILabel.h"

namespace {

constexpr CGFloat kLineHeight = 16;

std::string adKind(int64_t adType) {
    switch (adType) {
        case 5: return "Overlay";
        case 1: return "Full page";
        default: return NSString::stringWithFormat("Type %lld", adType);
    }
}

std::string eventKind(int64_t eventType) {
    switch (eventType) {
        case 0: return "ordinary";
        case 1: return "return";
        case 2: return "splash";
        default: return NSString::stringWithFormat("event %lld", eventType);
    }
}

}  // namespace

void TRAVisualCache::reloadData() {
    cacheLines_.clear();
    for (const auto& [key, loader] : TRAAdCache::sharedInstance()->getCacheDb()) {
        const char* state = loader->internalAd() ? "loaded" : loader->isLoading() ? "loading" : "empty";
        std::string video = loader->internalAd() && loader->internalAd()->videoPref() ? ", video" : "";
        cacheLines_.push_back(NSString::stringWithFormat("%@ (%@): %@%@", adKind(key->adType()),
                                                         eventKind(key->eventType()), state, video));
    }
    setCacheVideos();
}

void TRAVisualCache::setCacheVideos() {
    videoLines_.clear();
    const auto& make = TRADisplayHooks::shared().videoStore;
    if (auto store = make ? make() : nullptr)
        for (const std::string& name : store->getVideosDBCopy().keys()) videoLines_.push_back("Video: " + name);
    layoutLines();
}

void TRAVisualCache::layoutLines() {
    for (const auto& subview : subviews()) subview->removeFromSuperview();
    CGFloat y = 0;
    CGFloat width = bounds().size.width;
    for (const auto* lines : {&cacheLines_, &videoLines_})
        for (const std::string& line : *lines) {
            auto label = NSObject::alloc<UILabel>();
            label->initWithFrame(CGRectMake(0, y, width, kLineHeight));
            label->setText(line);
            addSubview(label);
            y += kLineHeight;
        }
}
