// The schema texts are assembled from literal pieces, so that each nested
// record of the request is written once and appears both inside the request
// and as a schema of its own.
#include "analytics/relay/OrreryRelaySchemas.h"

#define ORRERY_RELAY_NS "com.orrery.relay.config"
#define ORRERY_RELAY_REPORT_URL "https://relay.orrery.example/pcr.do"

#define IOS_TAGS_RECORD                                               \
    R"({"type":"record","name":"IosTags","namespace":")" ORRERY_RELAY_NS \
    R"(","fields":[{"name":"hw_machine","type":"string"}]})"

#define ANDROID_TAGS_RECORD                                                     \
    R"({"type":"record","name":"AndroidTags","namespace":")" ORRERY_RELAY_NS    \
    R"(","fields":[{"name":"model","type":"string"},{"name":"brand","type":"string"},)" \
    R"({"name":"id","type":"string"},{"name":"device","type":"string"},)"       \
    R"({"name":"product","type":"string"},{"name":"version_release","type":"string"}]})"

#define DEVICE_ID_RECORD                                                 \
    R"({"type":"record","name":"DeviceID","namespace":")" ORRERY_RELAY_NS \
    R"(","fields":[{"name":"type","type":"int"},{"name":"id","type":"bytes"}]})"

#define GEOLOCATION_RECORD                                                  \
    R"({"type":"record","name":"Geolocation","namespace":")" ORRERY_RELAY_NS \
    R"(","fields":[{"name":"latitude","type":"double"},{"name":"longitude","type":"double"},)" \
    R"({"name":"accuracy","type":"float"}]})"

namespace OrreryRelaySchemas {

static_assert(kNamespace == ORRERY_RELAY_NS);

const std::string_view kIosTags = IOS_TAGS_RECORD;
const std::string_view kGeolocation = GEOLOCATION_RECORD;
const std::string_view kDeviceId = DEVICE_ID_RECORD;

const std::string_view kConfigRequest =
    R"({"type":"record","name":"ConfigRequest","namespace":")" ORRERY_RELAY_NS R"(","fields":[)"
    R"({"name":"project_key","type":"string"},)"
    R"({"name":"bundle_id","type":"string"},)"
    R"({"name":"app_version","type":"string"},)"
    R"({"name":"sdk_version","type":"int"},)"
    R"({"name":"platform","type":"int"},)"
    R"({"name":"platform_version","type":"string"},)"
    R"({"name":"limit_ad_tracking","type":"boolean","default":false},)"
    R"({"name":"device_tags","type":[)" IOS_TAGS_RECORD "," ANDROID_TAGS_RECORD R"(]},)"
    R"({"name":"device_ids","type":{"type":"array","items":)" DEVICE_ID_RECORD R"(}},)"
    R"({"name":"geo","type":["null",)" GEOLOCATION_RECORD R"(]},)"
    R"({"name":"publisher_user_id","type":["null","string"],"default":null})"
    R"(]})";

const std::string_view kConfigResponse =
    R"({"type":"record","name":"ConfigResponse","namespace":")" ORRERY_RELAY_NS R"(","fields":[)"
    R"({"name":"issued_at","type":"long"},)"
    R"({"name":"refresh_ttl","type":"long","default":3600},)"
    R"({"name":"expiration_ttl","type":"long","default":604800},)"
    R"({"name":"global_settings","type":{"type":"record","name":"GlobalSettings","fields":[)"
        R"({"name":"log_level","type":{"type":"enum","name":"LogLevel",)"
            R"("symbols":["DEBUG","ERROR","FATAL","INFO","OFF","TRACE","WARN"]},"default":"OFF"})"
    R"(]}},)"
    R"({"name":"relay","type":{"type":"record","name":"Callbacks","aliases":["callbacks"],"fields":[)"
        R"({"name":"callbacks","type":{"type":"array","items":)"
            R"({"type":"record","name":"Callback","aliases":["AppTemplate"],"fields":[)"
                R"({"name":"partner","type":"string"},)"
                R"({"name":"events","type":{"type":"array","items":["string",)"
                    R"({"type":"record","name":"EventParameterCallbackTrigger","fields":[)"
                        R"({"name":"event_name","type":"string"},)"
                        R"({"name":"event_parameter_name","type":"string"},)"
                        R"({"name":"event_parameter_values","type":{"type":"array","items":"string"}})"
                    R"(]}]}},)"
                R"({"name":"method","type":{"type":"enum","name":"RequestMethod",)"
                    R"("symbols":["GET","PUT","POST"]},"default":"GET"},)"
                R"({"name":"uri_template","type":"string"},)"
                R"({"name":"body_template","type":["null","string"]},)"
                R"({"name":"max_redirects","type":"int","default":5},)"
                R"({"name":"connect_timeout","type":"int","default":20},)"
                R"({"name":"request_timeout","type":"int","default":20},)"
                R"({"name":"callback_id","type":"long"},)"
                R"({"name":"headers","type":["null",{"type":"map","values":"string"}],"default":null})"
            R"(]}}},)"
        R"({"name":"max_callback_retries","type":"int","default":3},)"
        R"({"name":"max_callback_attempts_per_report","type":"int","default":15},)"
        R"({"name":"max_report_delay_seconds","type":"long","default":600},)"
        R"({"name":"agent_report_url","type":"string","default":")" ORRERY_RELAY_REPORT_URL R"("})"
    R"(]}},)"
    R"({"name":"analytics","type":{"type":"record","name":"Analytics","fields":[)"
        R"({"name":"analytics_enabled","type":"boolean","default":true},)"
        R"({"name":"max_session_properties","type":"int","default":10})"
    R"(]}})"
    R"(]})";

const std::string_view kDefaultAgentReportUrl = ORRERY_RELAY_REPORT_URL;

}  // namespace OrreryRelaySchemas
