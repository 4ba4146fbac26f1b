// Fetches the Relay configuration: builds the Avro ConfigRequest describing
// the application and the device, posts its binary encoding with a checksum
// header to the configuration endpoint, and stores the answer's settings
// under "relaySettings". At most one request is in flight; every use of the
// singleton runs on its own serial access queue.
#pragma once

#include <functional>
#include <vector>

#include "analytics/OrreryHttpAsyncTask.h"
#include "analytics/relay/OrreryAvro.h"
#include "platform/foundation/NSData.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NSObject.h"

class OrreryRelayRequest : public NSObject, public OrreryHttpAsyncTaskDelegate {
public:
    // Tag of the configuration request's HTTP task.
    static constexpr const char* kTaskTag = "relayRequest";
    // Key of the caller's parameters in the task's parameters.
    static constexpr const char* kParamsKey = "params";
    static constexpr const char* kContentType = "application/vnd.orrery.sdk-avrobin;version=2";
    static constexpr const char* kAccept = "application/vnd.orrery.sdk-avrobin; version=2";
    // Platform codes in the request.
    static constexpr int32_t kPlatformIPad = 8;
    static constexpr int32_t kPlatformIPhone = 2;
    // Types of the device identifiers in the request.
    static constexpr int32_t kOrreryIdType = 7;
    static constexpr int32_t kVendorIdType = 6;

    using AccessBlock = std::function<void(const Ref<OrreryRelayRequest>&)>;

    static Ref<OrreryRelayRequest> sharedInstance();
    static dispatch_queue_t accessQueue();
    // Run the block on the access queue with the singleton (nothing for a
    // missing block); the sync form returns once it has run. Never call the
    // sync form from the access queue itself.
    static void synchronizedRelayAccessWithCallback_async(AccessBlock block);
    static void synchronizedRelayAccessWithCallback_sync(AccessBlock block);

    // The three header fields for an encoded body: content type, accept and
    // "or-checksum" (the body's CRC-32 as a signed decimal).
    static Value headerFieldsForBody(const NSData& body);

    // Parses the four request schemas once (until cleanUp).
    void initSchema();
    // Builds the request record; NO while a request is pending, without an
    // identifier for vendor, or when a value cannot be built (logged).
    bool buildObjectWithParams(const Value& params);
    // Encodes the built record and posts it; nothing while a request is pending.
    void sendRelayRequestWithParams(const Value& params);
    // Forgets the schemas and the built record and cancels every running task.
    void cleanUp();
    void unregisterTask(const Ref<OrreryHttpAsyncTask>& task);

    // Outcomes of the HTTP task; each is handled on the access queue.
    void requestSuccessful(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override;
    void requestDidFail(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override;
    void requestDidCancel(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override;

    // State, read on the access queue.
    const OrreryAvro::Schema& relayRequestSchema() const { return relayRequestSchema_; }
    const OrreryAvro::Datum& relayRequest() const { return relayRequest_; }
    const Value& params() const { return params_; }
    const std::vector<Ref<OrreryHttpAsyncTask>>& runningTasks() const { return runningTasks_; }

private:
    enum class Outcome { Success, Failure, Cancel };
    void handleOutcome(Outcome outcome, const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response);
    void storeSettingsFromBody(const NSData& body);
    void raiseInstallTrigger();
    bool buildDeviceIds(avro_value_t* request);
    bool buildGeo(avro_value_t* request);
    bool buildIosTags(avro_value_t* request);
    void abandonSend(const char* format, const std::string& error);

    OrreryAvro::Schema relayRequestSchema_;
    OrreryAvro::Schema iosTagsSchema_;
    OrreryAvro::Schema geoLocationSchema_;
    OrreryAvro::Schema deviceIdTypeSchema_;
    OrreryAvro::Datum relayRequest_;
    Value params_;
    std::vector<Ref<OrreryHttpAsyncTask>> runningTasks_;
    bool installTriggerScheduled_ = false;
};
