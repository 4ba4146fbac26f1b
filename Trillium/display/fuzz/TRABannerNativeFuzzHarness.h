// One fuzz input for the banner page markers and the native answer: the
// bytes are read as a banner page (the HTML ad's lists, then "@adId@",
// "@width@", "@height@") and as a native answer (a JSON object handed to the
// loader, or any other JSON value as its "adsDetails"), whose records are then
// read field by field. Nothing is sent. Whatever the bytes, the readers answer
// and nothing crashes, hangs or reads out of bounds. Used by the libFuzzer
// target and by the unit run's short pass.
#pragma once

#include <string_view>

#include "Trillium/display/TRABannerAd.h"
#include "Trillium/display/TRANativeAd.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/runtime/RunLoopDriver.h"

class TRABannerNativeFuzzHarness {
public:
    // Needs the platform started (virtual clock).
    void run(std::string_view bytes) {
        auto banner = TRABannerAd::alloc()->init();
        banner->setHtml(std::string(bytes));
        if (banner->onReceiveAd()) {
            checksum_ += static_cast<size_t>(banner->width()) + static_cast<size_t>(banner->height());
            checksum_ += banner->adId() ? banner->adId()->size() : 0;
        }

        std::optional<Value> json = NSJSONSerialization::JSONObjectWithData(NSString::dataUsingEncoding(bytes));
        if (json) {
            auto loader = TRANativeAd::alloc()->initWithBitmap(false);
            loader->didReceiveJson(json->isDictionary() ? *json : Value::dictionary({{"adsDetails", *json}}));
            for (const auto& record : loader->getAdsDetails()) {
                checksum_ += record->title().value_or("").size() + record->clickToInstall().size();
                checksum_ += record->rating() ? 1 : 0;
                checksum_ += record->smartRedirect() + record->trilliumBrowserEnabled() + record->isAppPresenece();
            }
        }
        driver_.drain();
    }

    size_t checksum() const { return checksum_; }

private:
    size_t checksum_ = 0;
    platform::testing::RunLoopDriver driver_;
};
