#include "analytics/relay/OrreryRelayRequest.h"

#include <algorithm>

#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryNetworkUtil.h"
#include "analytics/OrreryRelayHooks.h"
#include "analytics/OrrerySession.h"
#include "analytics/OrreryUtil.h"
#include "analytics/relay/OrreryRelayEventProcessing.h"
#include "analytics/relay/OrreryRelayLog.h"
#include "analytics/relay/OrreryRelayResponse.h"
#include "analytics/relay/OrreryRelaySchemas.h"
#include "analytics/relay/OrreryRelaySettings.h"
#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/runtime/Log.h"

namespace {
const char* const kRequestFieldError = "Unable to create relay Request datum structure: %s";
}  // namespace

// ---------------------------------------------------------------- singleton and queue

Ref<OrreryRelayRequest> OrreryRelayRequest::sharedInstance() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<OrreryRelayRequest>& instance =
        *new Ref<OrreryRelayRequest>(OrreryRelayRequest::alloc<OrreryRelayRequest>());
    return instance;
}

dispatch_queue_t OrreryRelayRequest::accessQueue() {
    // Never destroyed: other threads may use it during exit.
    static const dispatch_queue_t& queue =
        *new dispatch_queue_t(dispatch_queue_create("orrery.relay.request", DISPATCH_QUEUE_SERIAL));
    return queue;
}

void OrreryRelayRequest::synchronizedRelayAccessWithCallback_async(AccessBlock block) {
    if (!block) return;
    dispatch_async(accessQueue(), [block = std::move(block)] { block(sharedInstance()); });
}

void OrreryRelayRequest::synchronizedRelayAccessWithCallback_sync(AccessBlock block) {
    if (!block) return;
    dispatch_sync(accessQueue(), [&block] { block(sharedInstance()); });
}

// ---------------------------------------------------------------- building

void OrreryRelayRequest::initSchema() {
    if (relayRequestSchema_) return;
    struct Text {
        OrreryAvro::Schema* schema;
        std::string_view json;
        const char* failure;
    };
    const Text texts[] = {
        {&relayRequestSchema_, OrreryRelaySchemas::kConfigRequest, "Unable to parse relay request schema"},
        {&iosTagsSchema_, OrreryRelaySchemas::kIosTags, "Unable to parse ios tags schema"},
        {&geoLocationSchema_, OrreryRelaySchemas::kGeolocation, "Unable to parse geo location schema"},
        {&deviceIdTypeSchema_, OrreryRelaySchemas::kDeviceId, "Unable to parse device id type schema"},
    };
    for (const Text& text : texts) {
        *text.schema = OrreryAvro::Schema::parse(text.json);
        if (!*text.schema) {
            OrreryRelayLog::log(text.failure);
            // Half a set of schemas builds nothing; try again next time.
            for (const Text& t : texts) t.schema->reset();
            return;
        }
    }
    OrreryRelayLog::log("Successfully parsed relay request schema");
}

bool OrreryRelayRequest::buildIosTags(avro_value_t* request) {
    OrreryAvro::Datum tags = OrreryAvro::Datum::create(iosTagsSchema_);
    if (!tags || !OrreryAvro::setField(tags.get(), "hw_machine", OrreryUtil::devicePlatform())) {
        OrreryRelayLog::log("Unable to create Ios Tags datum structure: %s", OrreryAvro::lastError());
        return false;
    }
    avro_value_t branch{};
    if (!OrreryAvro::selectBranch(request, "device_tags", 0, &branch) || avro_value_copy(&branch, tags.get()) != 0) {
        OrreryRelayLog::log(kRequestFieldError, OrreryAvro::lastError());
        return false;
    }
    return true;
}

bool OrreryRelayRequest::buildDeviceIds(avro_value_t* request) {
    avro_value_t ids{};
    if (!OrreryAvro::fieldForWriting(request, "device_ids", &ids)) {
        OrreryRelayLog::log(kRequestFieldError, OrreryAvro::lastError());
        return false;
    }
    auto append = [&](int32_t type, const std::string& identifier, const char* failure) {
        OrreryAvro::Datum id = OrreryAvro::Datum::create(deviceIdTypeSchema_);
        avro_value_t element{};
        if (!id || !OrreryAvro::setFieldInt(id.get(), "type", type) ||
            !OrreryAvro::setFieldBytes(id.get(), "id", identifier.data(), identifier.size()) ||
            avro_value_append(&ids, &element, nullptr) != 0 || avro_value_copy(&element, id.get()) != 0) {
            OrreryRelayLog::log(failure, OrreryAvro::lastError());
            return false;
        }
        return true;
    };
    if (std::optional<std::string> orreryId = OrreryUtil::getOrreryId()) {
        if (!append(kOrreryIdType, *orreryId, "Unable to create IDFA Device id datum structure: %s")) return false;
    }
    std::optional<std::string> vendorId = OrreryUtil::getIdentifierForVendor();
    if (!vendorId) {
        OrreryRelayLog::log("IDFV is nil %s", OrreryAvro::lastError());
        return false;
    }
    return append(kVendorIdType, *vendorId, "Unable to create IDFV Device id datum structure: %s");
}

bool OrreryRelayRequest::buildGeo(avro_value_t* request) {
    OrreryLocation location = OrreryGlobalVariableStorage::sharedInstance()->location().value_or(OrreryLocation{});
    OrreryAvro::Datum geo = OrreryAvro::Datum::create(geoLocationSchema_);
    if (!geo || !OrreryAvro::setFieldDouble(geo.get(), "latitude", location.latitude) ||
        !OrreryAvro::setFieldDouble(geo.get(), "longitude", location.longitude) ||
        !OrreryAvro::setFieldFloat(geo.get(), "accuracy", static_cast<float>(location.horizontalAccuracy))) {
        OrreryRelayLog::log("Unable to create Geo datum structure: %s", OrreryAvro::lastError());
        return false;
    }
    avro_value_t branch{};
    if (!OrreryAvro::selectBranch(request, "geo", 1, &branch) || avro_value_copy(&branch, geo.get()) != 0) {
        OrreryRelayLog::log(kRequestFieldError, OrreryAvro::lastError());
        return false;
    }
    return true;
}

bool OrreryRelayRequest::buildObjectWithParams(const Value& params) {
    (void)params;  // not read
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    if (storage->relayRequestPending()) return false;
    initSchema();
    if (!relayRequestSchema_) return false;

    relayRequest_ = OrreryAvro::Datum::create(relayRequestSchema_);
    avro_value_t* request = relayRequest_ ? relayRequest_.get() : nullptr;
    bool built = request && OrreryAvro::setField(request, "project_key", storage->apiKey()) &&
                 OrreryAvro::setField(request, "bundle_id", NSBundle::mainBundle()->bundleIdentifier().value_or("")) &&
                 OrreryAvro::setField(request, "app_version", storage->appVersion()) &&
                 OrreryAvro::setFieldInt(request, "sdk_version", OrrerySession::getAgentVersion()) &&
                 OrreryAvro::setFieldInt(request, "platform", OrreryUtil::isIPad() ? kPlatformIPad : kPlatformIPhone) &&
                 OrreryAvro::setField(request, "platform_version", platform::DeviceProfile::current().systemVersion) &&
                 OrreryAvro::setFieldBool(request, "limit_ad_tracking", !OrreryUtil::isAdTrackingEnabled());
    if (!built) {
        OrreryRelayLog::log(kRequestFieldError, OrreryAvro::lastError());
        relayRequest_.reset();
        return false;
    }
    if (!buildIosTags(request) || !buildDeviceIds(request) || !buildGeo(request)) {
        relayRequest_.reset();
        return false;
    }
    avro_value_t userBranch{};
    std::optional<std::string> userId = storage->userID();
    bool userSet = OrreryAvro::selectBranch(request, "publisher_user_id", userId ? 1 : 0, &userBranch) &&
                   (userId ? OrreryAvro::setString(&userBranch, *userId) : avro_value_set_null(&userBranch) == 0);
    if (!userSet) {
        OrreryRelayLog::log(kRequestFieldError, OrreryAvro::lastError());
        relayRequest_.reset();
        return false;
    }
    OrreryRelayLog::log("Successfully created relay request.");
    return true;
}

// ---------------------------------------------------------------- sending

Value OrreryRelayRequest::headerFieldsForBody(const NSData& body) {
    return Value::dictionary({
        {"content-type", Value(kContentType)},
        {"accept", Value(kAccept)},
        {"or-checksum", Value(NSString::stringWithFormat("%d", OrreryUtil::dataChecksum(body)))},
    });
}

void OrreryRelayRequest::abandonSend(const char* format, const std::string& error) {
    OrreryRelayLog::log(format, platform::shortenedForLog(error));
    relayRequest_.reset();
    // Nothing went out: the next refresh may try again.
    OrreryGlobalVariableStorage::sharedInstance()->setRelayRequestPending(false);
}

void OrreryRelayRequest::sendRelayRequestWithParams(const Value& params) {
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    if (storage->relayRequestPending()) return;
    storage->setRelayRequestPending(true);
    params_ = params;
    OrreryRelayLog::log("Sending relay Request....");

    std::optional<std::string> json = relayRequest_ ? OrreryAvro::toJson(relayRequest_.get()) : std::nullopt;
    if (!json) return abandonSend("Unable to get JSON from relay request, error %s", OrreryAvro::lastError());
    OrreryRelayLog::log("Sending relay Request of size %lu....", static_cast<unsigned long>(json->size()));
    // The encoder sizes its buffer exactly, so no rendering can be too short for it.
    std::optional<std::vector<uint8_t>> encoded = OrreryAvro::encode(relayRequest_.get());
    if (!encoded) return abandonSend("Unable to validate= %s\n", OrreryAvro::lastError());
    relayRequest_.reset();
    NSData body(std::move(*encoded));

    // Configured completely before it starts, so any outcome finds it listed.
    Ref<OrreryHttpAsyncTask> task =
        OrreryHttpAsyncTask::sendMethod("POST", NSURL::URLWithString(OrreryNetworkUtil::relayServerUrl()), body,
                                        headerFieldsForBody(body), self<OrreryRelayRequest>(), false);
    task->setTag(std::string(kTaskTag));
    // No answer longer than the decoder takes is read at all.
    task->setMaximumResponseLength(static_cast<int64_t>(OrreryAvro::DecodeLimits().maxBytes));
    if (!params_.isNull()) task->setTaskParams(Value::dictionary({{kParamsKey, params_}}));
    if (runningTasks_.capacity() == 0) runningTasks_.reserve(2);
    runningTasks_.push_back(task);
    task->start();
}

void OrreryRelayRequest::cleanUp() {
    relayRequestSchema_.reset();
    iosTagsSchema_.reset();
    geoLocationSchema_.reset();
    deviceIdTypeSchema_.reset();
    relayRequest_.reset();
    // Cancelling reports back later, and the report unregisters the task.
    std::vector<Ref<OrreryHttpAsyncTask>> tasks = runningTasks_;
    for (const auto& task : tasks) task->cancelTask();
}

void OrreryRelayRequest::unregisterTask(const Ref<OrreryHttpAsyncTask>& task) {
    std::erase(runningTasks_, task);
}

// ---------------------------------------------------------------- outcomes

void OrreryRelayRequest::requestSuccessful(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) {
    dispatch_async(accessQueue(), [self = self<OrreryRelayRequest>(), task, response] {
        self->handleOutcome(Outcome::Success, task, response);
    });
}

void OrreryRelayRequest::requestDidFail(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) {
    dispatch_async(accessQueue(), [self = self<OrreryRelayRequest>(), task, response] {
        self->handleOutcome(Outcome::Failure, task, response);
    });
}

void OrreryRelayRequest::requestDidCancel(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) {
    dispatch_async(accessQueue(), [self = self<OrreryRelayRequest>(), task, response] {
        self->handleOutcome(Outcome::Cancel, task, response);
    });
}

void OrreryRelayRequest::handleOutcome(Outcome outcome, const Ref<OrreryHttpAsyncTask>& task,
                                       const Ref<OrreryHTTPResponse>& response) {
    OrreryGlobalVariableStorage::sharedInstance()->setRelayRequestPending(false);
    unregisterTask(task);
    if (outcome != Outcome::Cancel && task) params_ = task->taskParams()[kParamsKey];

    switch (outcome) {
    case Outcome::Failure:
        OrreryRelayLog::log("relayRequest: Could not connect to server: %@", response ? response->error() : nullptr);
        return;
    case Outcome::Cancel:
        OrreryRelayLog::log("relayRequst: Request was cancelled");
        return;
    case Outcome::Success:
        break;
    }
    if (!response || !response->isSuccess()) {
        OrreryRelayLog::log("relayRequst: bad response from server");
        return;
    }
    // A redirect the task did not follow is read as an answer, as any status
    // below 400 is; it is worth a line, since a configuration rarely comes so.
    if (response->statusCode() >= 300)
        OrreryRelayLog::log("relayRequest: the configuration answer is a redirect (status %d); its body is read as the answer",
                            response->statusCode());
    if (response->body().length() == 0) {
        OrreryRelayLog::log("relayRequest: the configuration answer is empty; nothing is stored");
        return;
    }
    OrreryRelayLog::log("This is a relay response of len %lu", static_cast<unsigned long>(response->body().length()));
    storeSettingsFromBody(response->body());
}

void OrreryRelayRequest::storeSettingsFromBody(const NSData& body) {
    Ref<OrreryRelaySettings> settings = OrreryRelayResponse::alloc<OrreryRelayResponse>()->init()->parseRelayResponse(body);
    // A body that does not parse leaves the stored settings, and the install
    // trigger, for a later answer.
    if (!settings) return;
    OrreryGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentGlobalsMapWithBlock(
        [settings](ValueDictionary& globals) { globals.set(OrreryRelaySettings::kStorageKey, Value(settings)); });
    raiseInstallTrigger();
}

void OrreryRelayRequest::raiseInstallTrigger() {
    if (installTriggerScheduled_ || OrreryGlobalVariableStorage::sharedInstance()->appInstallProcessDone()) return;
    // The trigger needs a session for its times; without one it waits for a
    // later configuration instead of being used up.
    Ref<OrrerySession> session = OrrerySession::currentSession();
    if (!session) return;
    installTriggerScheduled_ = true;
    NSDate start = session->startTime();
    NSDate end = session->endTime().value_or(start);
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [start, end] {
        Ref<OrreryRelayEventProcessing> processor = OrreryRelayEventProcessing::sharedProcessor();
        if (!processor) {
            OrreryRelayLog::log("relayRequest: no event processor for the install trigger");
            synchronizedRelayAccessWithCallback_async([](const Ref<OrreryRelayRequest>& request) {
                request->installTriggerScheduled_ = false;
            });
            return;
        }
        Value params = Value::dictionary({
            {OrreryRelayHooks::kSessionStartTimeKey, Value(start)},
            {OrreryRelayHooks::kSessionEndTimeKey, Value(end)},
        });
        processor->processEventWithParams(OrreryRelayEventProcessing::kAppInstallEvent, params);
        OrreryGlobalVariableStorage::sharedInstance()->setAppInstallProcessDone(true);
    });
}
