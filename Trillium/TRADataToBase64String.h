// Standard Base64 text of bytes (A–Z, a–z, 0–9, "+", "/", "=" padding, no
// line breaks).
#pragma once

#include <string>

#include "platform/foundation/NSData.h"
#include "platform/runtime/NSObject.h"

class TRADataToBase64String : public NSObject {
public:
    static std::string base64String(const NSData& data);
};
