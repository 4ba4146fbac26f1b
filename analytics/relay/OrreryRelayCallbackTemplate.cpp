#include "analytics/relay/OrreryRelayCallbackTemplate.h"

#include "analytics/relay/OrreryRelayCoding.h"

using namespace OrreryRelayCoding;

const std::vector<std::string>& OrreryRelayCallbackTemplate::relayMethodsArrayInstance() {
    // Never destroyed: other threads may use it during exit.
    static const std::vector<std::string>& methods = *new std::vector<std::string>{"GET", "PUT", "POST"};
    return methods;
}

std::string OrreryRelayCallbackTemplate::relayMethodEnumToString(int32_t method) {
    const auto& methods = relayMethodsArrayInstance();
    if (method < 0 || static_cast<size_t>(method) >= methods.size()) return methods[0];
    return methods[static_cast<size_t>(method)];
}

int32_t OrreryRelayCallbackTemplate::relayMethodStringToEnum(const std::optional<std::string>& name) {
    if (!name) return 0;
    const auto& methods = relayMethodsArrayInstance();
    for (size_t i = 0; i < methods.size(); ++i)
        if (methods[i] == *name) return static_cast<int32_t>(i);
    return 0;
}

void OrreryRelayCallbackTemplate::encodeTemplateFields(NSCoder& coder) const {
    coder.encodeObject(Value(partner_), "partner");
    coder.encodeInt32(method_, "method");
    coder.encodeObject(Value(uriTemplate_), "uriTemplate");
    coder.encodeObject(Value(bodyTemplate_), "bodyTemplate");
    coder.encodeObject(Value(maxRedirects_), "maxRedirects");
    coder.encodeObject(Value(connectTimeout_), "connectTimeout");
    coder.encodeObject(Value(requestTimeout_), "requestTimeout");
}

void OrreryRelayCallbackTemplate::decodeTemplateFields(const NSCoder& coder) {
    partner_ = optionalString(coder.decodeObjectForKey("partner"));
    method_ = coder.decodeInt32ForKey("method");
    uriTemplate_ = optionalString(coder.decodeObjectForKey("uriTemplate"));
    bodyTemplate_ = optionalString(coder.decodeObjectForKey("bodyTemplate"));
    maxRedirects_ = coder.decodeObjectForKey("maxRedirects").intValue();
    connectTimeout_ = coder.decodeObjectForKey("connectTimeout").intValue();
    requestTimeout_ = coder.decodeObjectForKey("requestTimeout").intValue();
}
