#include "analytics/relay/OrreryRelayCallback.h"

#include "analytics/relay/OrreryRelayCoding.h"

using namespace OrreryRelayCoding;

Ref<OrreryRelayCallback> OrreryRelayCallback::initWithDictionary(const Value& dictionary) {
    setPartner(optionalString(dictionary["partner"]));
    setMethod(dictionary["method"].intValue());
    callbackId_ = dictionary["callbackId"].integerValue();
    setUriTemplate(optionalString(dictionary["uriTemplate"]));
    setBodyTemplate(optionalString(dictionary["bodyTemplate"]));
    headers_ = dictionaryOrNull(dictionary["headers"]);
    setMaxRedirects(dictionary["maxRedirects"].intValue());
    setConnectTimeout(dictionary["connectTimeout"].intValue());
    setRequestTimeout(dictionary["requestTimeout"].intValue());
    return self<OrreryRelayCallback>();
}

Value OrreryRelayCallback::dataDictionary() const {
    return Value::dictionary({
        {"partner", Value(partner())},
        {"method", Value(method())},
        {"callbackId", Value(callbackId_)},
        {"uriTemplate", Value(uriTemplate())},
        {"bodyTemplate", Value(bodyTemplate())},
        {"headers", headers_},
        {"maxRedirects", Value(maxRedirects())},
        {"connectTimeout", Value(connectTimeout())},
        {"requestTimeout", Value(requestTimeout())},
    });
}

void OrreryRelayCallback::encodeWithCoder(NSCoder& coder) const {
    encodeTemplateFields(coder);
    coder.encodeInt64(callbackId_, "callbackId");
    coder.encodeObject(headers_, "headers");
}

void OrreryRelayCallback::initWithCoder(const NSCoder& coder) {
    decodeTemplateFields(coder);
    callbackId_ = coder.decodeInt64ForKey("callbackId");
    headers_ = dictionaryOrNull(coder.decodeObjectForKey("headers"));
}
