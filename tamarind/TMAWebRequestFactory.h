// Makes the Tamarind client's requests in their usual forms.
#pragma once

#include "tamarind/TMAWebRequest.h"

class TMAWebRequestFactory {
public:
    // A plain GET.
    static Ref<TMAWebRequest> initWebRequest();
    // A GET with "Accept" and "Content-Type" "application/json".
    static Ref<TMAWebRequest> initJSONGetWebRequest();
    // A POST of the JSON text with the same two fields.
    static Ref<TMAWebRequest> initJSONPostWebRequest(const std::string& url, const std::string& body);
};
