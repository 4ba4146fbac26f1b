#include "tamarind/TMAWebRequestFactory.h"

Ref<TMAWebRequest> TMAWebRequestFactory::initWebRequest() { return NSObject::alloc<TMAWebRequest>()->init(); }

Ref<TMAWebRequest> TMAWebRequestFactory::initJSONGetWebRequest() {
    auto request = initWebRequest();
    request->setHeader("Accept", "application/json");
    request->setHeader("Content-Type", "application/json");
    return request;
}

Ref<TMAWebRequest> TMAWebRequestFactory::initJSONPostWebRequest(const std::string& url, const std::string& body) {
    auto request = initWebRequest();
    request->setUrlString(url);
    request->setHttpMethod("POST");
    request->setHeader("Content-Type", "application/json");
    request->setHeader("Accept", "application/json");
    request->setRequestBody(body);
    return request;
}
