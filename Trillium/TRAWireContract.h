// The Trillium client's wire contract in one place: the ad platform's paths,
// the configuration answer, the ad answers, the signature of tracking URLs and
// the analytics event URL, as the client builds on them. The local simulator
// writes and reads the same forms with its own code, so a test through it
// catches a change here that the server would not follow.
//
// Paths. Every ad-platform request is the base URL (`-[TRAMetadata
// getAdPlatformHost]`, default kDefaultAdPlatformHost, ending in "/1.3/")
// followed directly by a path ending in "?" and the query:
//   configuration   "getadsmetadata?" <base query> "&sessionReason=" <reason>
//   HTML ad         "gethtmlad?"      <request query> <ad fields> <extra fields>
//   JSON ads        "getads?"         <request query> <ad fields> <extra fields>
//   first launch    "trackdownload?"  <base query> "&placement=INAPP_DOWNLOAD"
// The base query is TRABaseRequest's, fields in their fixed order, values as
// they are; the whole URL text is then percent-escaped once
// (stringByAddingPercentEscapesUsingEncoding), so the server decodes each
// value once. Ad fields, after the request's own query: "&adType=<n>", then
// "&video=ENABLED" for ad type 5 when the device has room for a video, then
// "&rewardedVideo=true" for a rewarded load.
//
// Configuration answer: HTTP 200 with a JSON object. Every field is optional;
// a field's kind and range are checked (table kMetadataFields) and one wrong
// field rejects the whole answer, which leaves the previous configuration in
// force. An accepted answer replaces the configuration: a field it lacks is
// removed from the user defaults, so its getter answers the default. "ttl"
// (seconds, 1 to 30 days; kDefaultMetadataTtl when absent) says how long the
// configuration stays fresh; "adRules" holds the ad rules:
//   {"session":    [{"maxAds": 3, "seconds": 600}, …],   // over all placements
//    "placements": {"INAPP_OVERLAY": [{"maxAds": 1, "seconds": 0}], …},
//    "tags":       {"level_end": [{"maxAds": 2, "seconds": 300}], …}}
// A rule allows an ad while fewer than maxAds ads were counted under its key
// in the last `seconds` seconds of the current session (0: the whole session).
//
// HTML ad answer: HTTP 200 whose body is the ad page (UTF-8). The page carries
// its lists as a JSON object between the first two occurrences of
// kAdInfoMarker (normally inside an HTML comment):
//   <!--@adInfoJson@{"orientation": "portrait", "trackingUrl": [...],
//       "closeUrl": [...], "clickTrackingUrl": [...], "smartRedirect": [true],
//       "trilliumBrowserEnabled": [false]}@adInfoJson@-->
// Lists of URLs are arrays of strings, the two flag lists arrays of booleans
// or numbers; a list that is absent stays nil. A video ad also carries its
// video settings between two "@videoJson@" markers. HTTP 204 or an empty body
// means no ad; any other status, a body above kMaximumAnswerBytes, bytes that
// are not UTF-8 or a malformed info block fail the load.
//
// JSON ads answer: HTTP 200 with a JSON object, e.g. {"adsDetails": [...]},
// handed whole to the loader's didReceiveJson:.
//
// Signature of click, close, impression and video-event URLs: the suffix
//   "&ts=<seconds since 1970>&sig=<hex HMAC-SHA1>"
// where the HMAC key is the text "<developer id>:<application id>" and the
// message "<d parameter>:<ts>" (the d parameter as it appears in the URL, ""
// when it has none). Impressions first get "&clientSessionId=<id>&profileId=
// <id>" and, when they carry "&adTag=", "&adTagEnc=<Base64 of the tag,
// percent-escaped>".
//
// Analytics event: GET <analytics base>"/tracking/infoEvent?" with the fields
//   "category=<n>&value=<v>[&details=<t>][&d=<d>]&publisherId=<id>
//    &productId=<id>&sdkVersion=<v>&os=ios&clientSessionId=<id>&timestamp=<ms>"
// each value percent-escaped (letters, digits and "-._~" stay). The analytics
// base is the stored "TRAAnalyticsHost", else the scheme and authority of the
// ad platform base URL. Any answer below 500 takes the event off the queue;
// a transport failure or a 5xx keeps it for the next send.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace TRAWire {

// ---- versions and identities ---------------------------------------------------------
inline constexpr const char* kSdkVersion = "3.5.0";
inline constexpr const char* kOs = "ios";
// "&sdkId=": which wrapper drives the client, by the entry point's flags
// (engines: isUnityEnvironment, isCoronaEnvironment, isCocos2DXEnvironment;
// mediation: isAdMobMediationEnvironment, isMoPubMediationEnvironment).
inline constexpr const char* kSdkIdNative = "NATIVE";
inline constexpr const char* kSdkIdEngineA = "ENGINE_A";
inline constexpr const char* kSdkIdEngineB = "ENGINE_B";
inline constexpr const char* kSdkIdEngineC = "ENGINE_C";
inline constexpr const char* kSdkIdMediationA = "MEDIATION_A";
inline constexpr const char* kSdkIdMediationB = "MEDIATION_B";

// ---- URLs and paths ---------------------------------------------------------------------
inline constexpr const char* kDefaultAdPlatformHost = "http://api.trillium.invalid/1.3/";
inline constexpr const char* kDefaultEulaUrl = "http://www.trillium.invalid/eula.html";
inline constexpr const char* kDefaultPolicyImageUrl = "http://www.trillium.invalid/adinfo.png";
inline constexpr const char* kMetadataPath = "getadsmetadata?";
inline constexpr const char* kHtmlAdPath = "gethtmlad?";
inline constexpr const char* kJsonAdsPath = "getads?";
inline constexpr const char* kFirstLaunchPath = "trackdownload?";
inline constexpr const char* kAnalyticsPath = "/tracking/infoEvent";

// ---- answers ------------------------------------------------------------------------------
inline constexpr size_t kMaximumAnswerBytes = 2 * 1024 * 1024;
inline constexpr int64_t kDefaultMetadataTtl = 3600;
inline constexpr int64_t kMaximumMetadataTtl = 30 * 24 * 3600;
inline constexpr const char* kAdInfoMarker = "@adInfoJson@";
inline constexpr const char* kVideoJsonMarker = "@videoJson@";
inline constexpr size_t kMaximumStringField = 4096;
inline constexpr int64_t kMaximumIntegerField = 2147483647;

// How a configuration field is checked and stored.
enum class FieldKind {
    Integer,  // a number in 0…kMaximumIntegerField, stored as an integer (a fraction is dropped)
    Flag,     // a boolean or a number in 0…kMaximumIntegerField, stored as an integer
    Text,     // a string of at most kMaximumStringField bytes
    Url,      // a Text that parses as an http or https URL
    Rules,    // the "adRules" object
};

struct MetadataField {
    const char* server;  // key in the answer
    const char* key;     // user-defaults key
    FieldKind kind;
};

inline constexpr MetadataField kMetadataFields[] = {
    {"adPlatformHost", "TRAAdPlatformHost", FieldKind::Url},
    {"eulaUrl", "TRAEulaUrl", FieldKind::Url},
    {"policyImageUrl", "TRAPolicyImageUrl", FieldKind::Url},
    {"analyticsHost", "TRAAnalyticsHost", FieldKind::Url},
    {"analyticsEnabled", "TRAAnalyticsEnabled", FieldKind::Flag},
    {"profileId", "TRAProfileId", FieldKind::Text},
    {"splashMinTime", "TRASplashMinTime", FieldKind::Integer},
    {"splashDefaultMaxLoadTime", "TRASplashDefaultMaxLoadTime", FieldKind::Integer},
    {"splashAdDisplayTime", "TRASplashAdDisplayTime", FieldKind::Integer},
    {"splashDefaultTheme", "TRASplashDefaultTheme", FieldKind::Integer},
    {"htmlSplash", "TRAHtmlSplash", FieldKind::Flag},
    {"returnAdMinBackgroundTime", "TRAReturnAdMinBackgroundTime", FieldKind::Integer},
    {"returnAdRetryLoadingTime", "TRAReturnAdRetryLoadingTime", FieldKind::Integer},
    {"sessionMaxBackgroundTime", "TRASessionMaxBackgroundTime", FieldKind::Integer},
    {"disableReturnAd", "TRADisableReturnAd", FieldKind::Flag},
    {"autoLoad", "TRAAutoLoad", FieldKind::Flag},
    {"dns", "TRADNS", FieldKind::Flag},
    {"disableTwoClicks", "TRADisableTwoClicks", FieldKind::Flag},
    {"trilliumBrowserEnabled", "TRATrilliumBrowserEnabled", FieldKind::Flag},
    {"inAppStoreEnabled", "TRAInAppStoreEnabled", FieldKind::Flag},
    {"smartRedirectTimeout", "TRASmartRedirectTimeout", FieldKind::Integer},
    {"analyticsHopLatencyMaxTime", "TRAAnalyticsHopLatencyMaxTime", FieldKind::Integer},
    {"sendHopLatencyOnceInXClicks", "TRAAnalyticsSendHopLatencyOnceInXClicks", FieldKind::Integer},
    {"analyticsSendHopsStatsOnceInXClicks", "TRAAnalyticsSendHopsStatsOnceInXClicks", FieldKind::Integer},
    {"refreshRate", "TRARefreshRate", FieldKind::Integer},
    {"bannerAdsNumber", "TRABannerAdsNumber", FieldKind::Integer},
    {"maxCachedVideos", "TRAMaxCachedVideos", FieldKind::Integer},
    {"minAvailableStorageRequired", "TRAMinAvailableStorageRequired", FieldKind::Integer},
    {"rewardGrantPercentage", "TRARewardGrantPercentage", FieldKind::Integer},
    {"statusBarMode", "TRAStatusBarMode", FieldKind::Integer},
    {"applyAdRulesOnBannerRefresh", "TRAApplyAdRulesOnBannerRefresh", FieldKind::Flag},
    {"adRules", "TRAAdRules", FieldKind::Rules},
};

// Bookkeeping of the configuration in the user defaults.
inline constexpr const char* kMetadataTtlServerField = "ttl";
inline constexpr const char* kMetadataLoadDateKey = "TRAMetadataLoadDate";
inline constexpr const char* kMetadataTtlKey = "TRAMetadataTTL";

// ---- signature ------------------------------------------------------------------------------
inline std::string signatureKey(std::string_view publisherId, std::string_view productId) {
    std::string key(publisherId);
    key += ':';
    key.append(productId);
    return key;
}
inline std::string signatureMessage(std::string_view dParameter, int64_t timestamp) {
    std::string message(dParameter);
    message += ':';
    message += std::to_string(timestamp);
    return message;
}

}  // namespace TRAWire
