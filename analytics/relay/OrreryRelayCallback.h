// One partner callback of a Relay configuration: the partner, the HTTP
// method, the URL and body templates, header fields and limits, under the
// callback's id. Archivable (inside the stored settings), with a
// plain-dictionary form.
#pragma once

#include <cstdint>

#include "analytics/relay/OrreryRelayCallbackTemplate.h"
#include "platform/foundation/NSCoder.h"
#include "platform/foundation/Value.h"

class OrreryRelayCallback : public OrreryRelayCallbackTemplate, public NSCoding {
public:
    Ref<OrreryRelayCallback> init() { return self<OrreryRelayCallback>(); }
    Ref<OrreryRelayCallback> initWithDictionary(const Value& dictionary);
    Value dataDictionary() const;

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

    int64_t callbackId() const { return callbackId_; }
    void setCallbackId(int64_t v) { callbackId_ = v; }
    // Header fields: a dictionary of strings, or Null.
    const Value& headers() const { return headers_; }
    void setHeaders(Value v) { headers_ = std::move(v); }

private:
    int64_t callbackId_ = 0;
    Value headers_;
};
