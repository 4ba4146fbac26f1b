#include "Trillium/TRAJsonAd.h"

#include "Trillium/TRAWireContract.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"

std::string TRAJsonAd::adRequestPath() const { return TRAWire::kJsonAdsPath; }

void TRAJsonAd::didReceiveAnswer(const std::string& body) {
    std::optional<Value> json = NSJSONSerialization::JSONObjectWithData(NSString::dataUsingEncoding(body));
    if (!json || !json->isDictionary()) {
        reportFailure("Ad answer is not a JSON object");
        return;
    }
    didReceiveJson(*json);
}

void TRAJsonAd::didReceiveJson(const Value&) { reportLoaded(); }
