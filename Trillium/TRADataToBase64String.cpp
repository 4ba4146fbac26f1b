#include "Trillium/TRADataToBase64String.h"

std::string TRADataToBase64String::base64String(const NSData& data) { return data.base64EncodedStringWithOptions(0); }
