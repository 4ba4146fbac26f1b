// What every form of partner callback has (the current OrreryRelayCallback
// and the older OrreryRelayAppTemplate): the partner, the HTTP method, the
// URL and body templates and the limits, with the method-name table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSCoder.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class OrreryRelayCallbackTemplate : public NSObject {
public:
    // "GET", "PUT", "POST", made once for the process.
    static const std::vector<std::string>& relayMethodsArrayInstance();
    // Index to method name. An index outside the table (only a damaged
    // archive has one) gives "GET", as an unknown name gives index 0.
    static std::string relayMethodEnumToString(int32_t method);
    // Method name to index; a missing or unknown name gives 0.
    static int32_t relayMethodStringToEnum(const std::optional<std::string>& name);

    const std::optional<std::string>& partner() const { return partner_; }
    void setPartner(std::optional<std::string> v) { partner_ = std::move(v); }
    // HTTP method index: 0 "GET", 1 "PUT", 2 "POST".
    int32_t method() const { return method_; }
    void setMethod(int32_t v) { method_ = v; }
    const std::optional<std::string>& uriTemplate() const { return uriTemplate_; }
    void setUriTemplate(std::optional<std::string> v) { uriTemplate_ = std::move(v); }
    // Used only with POST.
    const std::optional<std::string>& bodyTemplate() const { return bodyTemplate_; }
    void setBodyTemplate(std::optional<std::string> v) { bodyTemplate_ = std::move(v); }
    int32_t maxRedirects() const { return maxRedirects_; }
    void setMaxRedirects(int32_t v) { maxRedirects_ = v; }
    // Carried and archived; no request applies the two time-outs.
    int32_t connectTimeout() const { return connectTimeout_; }
    void setConnectTimeout(int32_t v) { connectTimeout_ = v; }
    int32_t requestTimeout() const { return requestTimeout_; }
    void setRequestTimeout(int32_t v) { requestTimeout_ = v; }

protected:
    // The fields above under their archive keys.
    void encodeTemplateFields(NSCoder& coder) const;
    void decodeTemplateFields(const NSCoder& coder);

private:
    std::optional<std::string> partner_;
    int32_t method_ = 0;
    std::optional<std::string> uriTemplate_;
    std::optional<std::string> bodyTemplate_;
    int32_t maxRedirects_ = 0;
    int32_t connectTimeout_ = 0;
    int32_t requestTimeout_ = 0;
};
