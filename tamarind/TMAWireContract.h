// The Tamarind client's wire contract in one place: the configuration
// exchange, the ad request and answer, the identity service, the metric,
// instrumentation and impression pixels, the viewability script and the URL
// forms the click-through classifier knows; and the script interface
// offered to template creatives. The local simulator writes its
// own copy of these forms (it never includes this header), so a test through
// it catches a fault on either side.
//
// Configuration. GET <configuration URL>"?appId=<key>&sdkVersion=<v>&os=ios
// &osVersion=<v>" with "Accept: application/json"; each value
// percent-escaped (letters, digits and "-._~" stay). The URL defaults to
// kDefaultConfigurationURL; the stored kConfigurationURLKey replaces it. The
// answer is HTTP 200 with a JSON object of at most kMaximumAnswerBytes:
//   {"ttl": 86400,                               seconds fresh; 0…2^31-1, capped at
//                                                kMaximumConfigurationTtl; absent: 86400
//    "adServerHost": "http://ads.example",       required, http(s) URL
//    "adServerPath": "/msdk/getAd",              required, begins with "/"
//    "sisHost": "http://sis.example",            required, http(s) URL
//    "metricEndpoint": "http://m.example/metric",  optional, http(s) URL
//    "viewabilityScriptUrl": "http://…/v.js",    optional, http(s) URL
//    "viewabilityScriptVersion": "3",            optional text
//    "viewableInterval": 200,                    optional, milliseconds 0…60000
//    "registrationInterval": 86400}              optional, seconds 60…2592000
// Null counts as absent. One field of the wrong kind or out of range rejects
// the whole answer and the stored configuration stays in force; an accepted
// answer replaces it whole (a field it lacks is removed, so its default
// applies). The configuration is current while it holds the three required
// endpoints and its time to live has not run out.
//
// Ad request. POST <adServerHost><adServerPath> with "Content-Type:
// application/json", "Accept: application/json" and the web view's
// "User-Agent"; the body is compact JSON, keys in this order:
//   {"appId": "<key>", "sdkVersion": "<v>", "size": "interstitial" | "auto" | "<w>x<h>",
//    "containerSize": "<w>x<h>"                  only when given
//    "slotId": "<id>"                            only when the advanced options hold it
//    "device": {"os": "ios", "osVersion": "9.0", "model": "iPhone8,1", "locale": "en_US",
//               "screen": "320x568", "scale": 2, "idfa": "<UUID>", "limitAdTracking": false,
//               "deviceId": "<did>"}             deviceId only when registered
//    "app": {"bundleId": "<id>", "version": "<CFBundleShortVersionString>"},
//    "options": {…}}                             the other advanced options, only when any
//
// Ad answer. HTTP 200 with a JSON object of at most kMaximumAnswerBytes:
//   {"errorCode": 200,                 required integer: 200 an ad, 400–499 a bad request,
//                                      anything else no ad
//    "creative": "<html>…",            the creative HTML
//    "creativeType": "template",       kCreativeTypes; an unknown name is type 0
//    "impressionPixel": "http://…",    http(s) URL
//    "instrumentationPixel": "http://…",  http(s) URL the ad's metrics are appended to
//    "cacheTTL": 3600,                 seconds the ad stays valid, 0 never expires; 0…2^31-1
//    "noretryTTL": 0}                  seconds not to ask again; 0…2^31-1, capped at 3600
// Null counts as absent; a field of the wrong kind or out of range makes the
// answer malformed (reported as an internal server error). Any other status
// fails the load with the status as its code.
//
// Identity service, POST <sisHost>"/api3"<path> with a JSON body:
//   "/generate_did"     {"appId", "sdkVersion", "device"}        answer {"did": "<1…256 chars>"}
//   "/update_dev_info"  {"did", "appId", "sdkVersion", "device"}  answer 200 (a "did" replaces it)
//   "/register_event"   {"did", "appId", "events": [{"name": "appStart", "timestamp": <ms>}]}
// "device" is the ad request's without "deviceId". Each of the three runs at
// most once per registration interval; a failure is retried at the next
// bootstrap.
//
// Metric pixel: GET <metricEndpoint>"/"<metric>":"<prefix><suffix><sdk version>,
// e.g. ".../metric/MobileAdsiOSSDK_:ATSEnabled_LoadAd_tamarindAdSDK-ios-2.2.15".
//
// Instrumentation pixel: GET <instrumentation pixel URL> followed by "?" ("&"
// when it has a query already) and "<name>=<value>" pairs joined by "&":
// stopped timers first, then counters, each by increasing id (kMetricNames);
// timers in whole milliseconds, counters as counts. Sent only with at least
// one metric.
//
// Impression pixel: GET as given, with "Accept" and "Content-Type"
// "application/json". Viewability script: GET <viewabilityScriptUrl>, answer
// 200 with UTF-8 text of at most kMaximumScriptBytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TMAWire {

// ---- identity of the client -------------------------------------------------------------------
inline constexpr const char* kSdkVersion = "tamarindAdSDK-ios-2.2.15";
inline constexpr const char* kOs = "ios";

// ---- configuration ------------------------------------------------------------------------------
inline constexpr const char* kDefaultConfigurationURL = "http://config.tamarind.invalid/msdk/getConfig";
inline constexpr const char* kConfigurationPath = "/msdk/getConfig";
inline constexpr int64_t kDefaultConfigurationTtl = 86400;
inline constexpr int64_t kMaximumConfigurationTtl = 259200;
inline constexpr int64_t kMaximumTtlField = 2147483647;
inline constexpr size_t kMaximumAnswerBytes = 2 * 1024 * 1024;
inline constexpr size_t kMaximumScriptBytes = 512 * 1024;
inline constexpr size_t kMaximumTextField = 4096;

enum class FieldKind {
    Url,           // http or https URL with a host
    Path,          // text beginning with "/"
    Text,          // text of at most kMaximumTextField bytes
    Milliseconds,  // number 0…60000
    Seconds,       // number 60…2592000
};

struct ConfigurationField {
    const char* server;    // key in the answer
    const char* key;       // user-defaults key
    FieldKind kind;
    bool required;
};

inline constexpr ConfigurationField kConfigurationFields[] = {
    {"adServerHost", "TamarindAd:AdServerHostKey", FieldKind::Url, true},
    {"adServerPath", "TamarindAd:AdServerPathKey", FieldKind::Path, true},
    {"sisHost", "TamarindAd:SISHostKey", FieldKind::Url, true},
    {"metricEndpoint", "TamarindAd:MetricEndpointKey", FieldKind::Url, false},
    {"viewabilityScriptUrl", "TamarindAd:ViewabilityURLKey", FieldKind::Url, false},
    {"viewabilityScriptVersion", "TamarindAd:ViewabilityOfferedVersionKey", FieldKind::Text, false},
    {"viewableInterval", "TamarindAd:ViewableIntervalKey", FieldKind::Milliseconds, false},
    {"registrationInterval", "TamarindAd:RegistrationFrequencyTimeIntervalKey", FieldKind::Seconds, false},
};
inline constexpr const char* kConfigurationTtlField = "ttl";

// User-defaults keys of the configuration's bookkeeping and of the client's
// state; dates are stored as seconds since 1 January 2001.
inline constexpr const char* kConfigurationURLKey = "TamarindAd:ConfigurationURLKey";
inline constexpr const char* kConfigurationTtlKey = "TamarindAd:ConfigurationTTLKey";
inline constexpr const char* kConfigurationDateKey = "TamarindAd:ConfigurationDateKey";
inline constexpr const char* kAdServerHostKey = "TamarindAd:AdServerHostKey";
inline constexpr const char* kAdServerPathKey = "TamarindAd:AdServerPathKey";
inline constexpr const char* kSISHostKey = "TamarindAd:SISHostKey";
inline constexpr const char* kMetricEndpointKey = "TamarindAd:MetricEndpointKey";
inline constexpr const char* kViewabilityURLKey = "TamarindAd:ViewabilityURLKey";
inline constexpr const char* kViewabilityOfferedVersionKey = "TamarindAd:ViewabilityOfferedVersionKey";
inline constexpr const char* kViewableIntervalKey = "TamarindAd:ViewableIntervalKey";
inline constexpr const char* kRegistrationIntervalKey = "TamarindAd:RegistrationFrequencyTimeIntervalKey";
inline constexpr const char* kNoRetryTtlKey = "TamarindAd:NoRetryTTLSecondsKey";
inline constexpr const char* kNoRetryTimestampKey = "TamarindAd:NoRetryTimestampKey";
inline constexpr const char* kViewabilityScriptKey = "TamarindAd:ViewabilityJSKey";
inline constexpr const char* kViewabilityVersionKey = "TamarindAd:ViewabilityVersionKey";
inline constexpr const char* kDeviceIdKey = "TamarindAd:DeviceIdKey";
inline constexpr const char* kDeviceIdDateKey = "TamarindAd:DeviceIdDateKey";
inline constexpr const char* kAppEventsDateKey = "TamarindAd:AppEventsDateKey";
inline constexpr double kDefaultRegistrationInterval = 86400;
inline constexpr double kDefaultViewableInterval = 0.2;

// ---- ad request and answer ---------------------------------------------------------------------------
inline constexpr double kDefaultAdRequestTimeout = 10;
inline constexpr const char* kSlotIdOption = "slotId";

struct CreativeTypeName {
    const char* name;
    int type;
};
inline constexpr CreativeTypeName kCreativeTypes[] = {{"mraid", 1}, {"html", 2}, {"template", 3}};
inline constexpr int64_t kMaximumNoRetryTtl = 3600;

// ---- identity service --------------------------------------------------------------------------------
inline constexpr const char* kIdentityPrefix = "/api3";
inline constexpr const char* kGenerateDevicePath = "/generate_did";
inline constexpr const char* kUpdateDevicePath = "/update_dev_info";
inline constexpr const char* kRegisterEventPath = "/register_event";
inline constexpr const char* kAppStartEvent = "appStart";
inline constexpr size_t kMaximumDeviceIdBytes = 256;

// ---- metrics --------------------------------------------------------------------------------------------
inline constexpr int kFirstTimer = 0;
inline constexpr int kLastTimer = 18;
inline constexpr int kFirstCounter = 100;
inline constexpr int kLastCounter = 124;

struct MetricName {
    int id;
    const char* name;
};
// Ids in range but not listed are written "t<id>" (timers) or "c<id>" (counters).
inline constexpr MetricName kMetricNames[] = {
    {0, "al"},       {2, "i_tl"},     {4, "i_tfl"},    {5, "i_pl"},      {6, "i_pfl"},     {8, "i_rl"},
    {10, "i_rfl"},   {11, "i_sd"},    {12, "mi_sd"},   {100, "alf"},     {101, "ttl"},     {102, "lac"},
    {104, "i_adrc"}, {105, "mi_adrc"}, {106, "lf"},    {107, "lfnf"},    {108, "lfne"},    {109, "lfnt"},
    {110, "lfie"},   {111, "lfre"},   {113, "mi_rc"},  {114, "mi_rac"},  {117, "mi_rrcfc"}, {118, "mi_rarfc"},
    {122, "il"},     {123, "fil"},    {124, "nil"},
};

// ---- the script interface of template creatives ------------------------------------------------------
// Globals put into a creative's script context before its page loads:
//   "tamarind"                         getVersion(), getSDKVersion() → "2.0";
//                                      enableCloseButton(bool); openInExternalBrowser(url text)
//   "tamarindmobileadsviewablebridge"  addEventListener(Event.Viewability, fn),
//                                      removeEventListener(…); getVersion() → "1.1";
//                                      getSDKVersion() → kSdkVersion
// `Event.Viewability` is the text "Viewability". Listeners run as zero-delay
// page timers, after the script that caused the event has finished. Each
// "Viewability" event passes one record, keys in this order:
//   {"viewablePercentage": 0…100, "isAdOnScreen": 1 | 0,
//    "x", "y", "width", "height"}      the ad's frame in the key window; a null
//                                      frame is -1, -1, 0, 0
//   "mraid"                            MRAID 2.0 (version "2.0"): addEventListener and
//                                      removeEventListener for "error", "info", "ready",
//                                      "stateChange", "viewableChange", "sizeChange";
//                                      getState() "loading" | "default" | "expanded" |
//                                      "resized" | "hidden"; getPlacementType()
//                                      "interstitial" | "inline"; expand() or
//                                      expand(http(s) URL: that page in a second,
//                                      full-screen container whose "mraid" reads
//                                      "expanded"), close(),
//                                      open(url), storePicture(url), supports(feature),
//                                      useCustomClose(bool), the get/set pairs of the
//                                      expand, resize and orientation properties,
//                                      getCurrentPosition(), getDefaultPosition(),
//                                      getMaxSize(), getScreenSize(), isViewable();
//                                      resize(), playVideo(), createCalendarEvent() do
//                                      nothing. Once the page has loaded: "sizeChange"
//                                      (width, height), "stateChange" ("default"),
//                                      "ready". A refused call fires "error" (message,
//                                      action).
// The stored viewability script (kViewabilityScriptKey) is run at
// registration. It holds exactly two placeholders "%@" ("%s" counts as one):
// the first becomes `function(){ return <pixel>; }`, <pixel> the
// instrumentation pixel URL as a JSON string literal or null; the second the
// slot id as a JSON string literal. Any other "%" text stays as it is.
inline constexpr const char* kTamarindBridgeName = "tamarind";
inline constexpr const char* kViewabilityBridgeName = "tamarindmobileadsviewablebridge";
inline constexpr const char* kMraidBridgeName = "mraid";
inline constexpr const char* kViewabilityEvent = "Viewability";
inline constexpr const char* kTamarindBridgeVersion = "2.0";
inline constexpr const char* kViewabilityBridgeVersion = "1.1";
inline constexpr const char* kMraidBridgeVersion = "2.0";
inline constexpr const char* kViewabilityPlaceholder = "%@";

// ---- URLs the click-through classifier knows ------------------------------------------------------------
inline constexpr const char* kPrivateScheme = "tamarindmobile";
inline constexpr const char* kIntentHost = "intent";
inline constexpr const char* kIntentKey = "intent";
// The store's web hosts: links to them open the store sheet.
inline constexpr const char* kAppStoreHosts[] = {"apps.store.invalid", "store.invalid"};
inline constexpr const char* kAppStoreIdPattern = "id(.+)";

}  // namespace TMAWire
