// Shared by the net tests: the fixture with a loopback server and a
// synchronous request helper.
#pragma once

#include <optional>
#include <string>

#include "platform/net/NSURLConnection.h"
#include "platform/net/NetworkConditions.h"
#include "platform/runtime/HangGuard.h"
#include "platform/testing/PlatformTest.h"
#include "simulator/LoopbackServer.h"

namespace nettest {

using simulator::Answer;
using simulator::RecordedRequest;

struct Result {
    std::optional<NSData> data;
    Ref<NSURLResponse> response;
    Ref<NSError> error;

    int64_t status() const {
        auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
        return http ? http->statusCode() : -1;
    }
    std::string body() const { return data ? data->toString() : "(none)"; }
    int64_t code() const { return error ? error->code() : 0; }
};

inline Result send(const NSURLRequest& request) {
    Result r;
    r.data = NSURLConnection::sendSynchronousRequest(request, &r.response, &r.error);
    return r;
}

inline Ref<NSMutableURLRequest> requestTo(const std::string& url, const std::string& method = "GET",
                                          std::optional<std::string> body = std::nullopt,
                                          double timeout = platform::testing::hangGuard(5)) {
    auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(url));
    request->setHTTPMethod(method);
    if (body) request->setHTTPBody(NSData::dataWithString(*body));
    request->setTimeoutInterval(timeout);
    return request;
}

class NetTest : public platform::testing::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        ASSERT_TRUE(server.start());
    }
    void TearDown() override {
        server.stop();
        PlatformTest::TearDown();
    }

    Result get(const std::string& path, double timeout = platform::testing::hangGuard(5)) {
        return send(*requestTo(server.url(path), "GET", {}, timeout));
    }

    simulator::LoopbackServer server;
};

}  // namespace nettest
