// Constants shared by the whole client: its identifier and version, the
// default service endpoints, and the numbers of the settings slots that
// several classes read.
#pragma once

#include <cstdint>

// Prefixes the client's user-defaults keys and is the host of its command URLs.
inline constexpr const char* kHLSdkIdentifier = "com.halcyon.sdk";
inline constexpr const char* kHLSdkVersion = "3.4.3";
// Written at every start under the identifier + ".lastKnownVersionCode".
inline constexpr int64_t kHLSdkVersionCode = 343;

// The default endpoints; tests and the demo override them through
// HLInternalSdkSettings.
inline constexpr const char* kHLDefaultApiEndpoint = "https://api.halcyon.invalid/";
inline constexpr const char* kHLDefaultAdServerEndpoint = "https://ads.halcyon.invalid/";
inline constexpr const char* kHLDefaultEventTrackingEndpoint = "https://events.halcyon.invalid/pix?";
// The https forms, then the http forms, of the same six hosts.
inline constexpr const char* kHLDefaultResourceCachePrefixes =
    "https://cdn1.halcyon.invalid/,https://cdn2.halcyon.invalid/,https://cdn3.halcyon.invalid/,"
    "https://static.halcyon.invalid/,https://media.halcyon.invalid/,https://scripts.publiccdn.invalid/,"
    "http://cdn1.halcyon.invalid/,http://cdn2.halcyon.invalid/,http://cdn3.halcyon.invalid/,"
    "http://static.halcyon.invalid/,http://media.halcyon.invalid/,http://scripts.publiccdn.invalid/";

// Settings slots (see HLSettingsManager).
enum HLSettingsSlot : int64_t {
    kHLSlotHonorPublisherSettings = 0,
    kHLSlotIsDisabled = 1,
    kHLSlotDeviceId = 2,
    kHLSlotPublisherId = 3,
    kHLSlotAppId = 4,
    kHLSlotDeviceToken = 5,
    kHLSlotInitRetryCount = 6,
    kHLSlotVrRetryCount = 7,
    kHLSlotCrRetryCount = 8,
    kHLSlotIsVerboseLogging = 9,
    kHLSlotPluginVersion = 10,
    kHLSlotApiEndpoint = 11,
    kHLSlotAdServerEndpoint = 12,
    kHLSlotGetRetryDelay = 13,
    kHLSlotHashAlgorithm = 14,
    kHLSlotShortHashSize = 15,
    kHLSlotHttpConnectionTimeout = 16,
    kHLSlotAdSessionMinutes = 19,
    kHLSlotAdRefreshSeconds = 21,
    kHLSlotAdAutoPreloadSizes = 27,
    kHLSlotAdAutoPreloadIncent = 28,
    kHLSlotResourceCachePrefix = 31,
    kHLSlotIsTrackingEnabled = 32,
    kHLSlotCacheCleanupEnabled = 73,
    kHLSlotCacheFileTtlSeconds = 74,
    kHLSlotCacheMaxSizeMb = 75,
    kHLSlotSubmitPostbackRetries = 78,
    kHLSlotSubmitPostbackTimeout = 79,
    kHLSlotAdAutoPreloadNative = 96,
    kHLSlotQq = 99,
    kHLSlotEventTrackingEndpoint = 100,
    kHLSlotPostbackServiceMaxQueueSize = 101,
    kHLSlotTopLevelEvents = 111,
    kHLSlotEventsEnabled = 112,
    kHLSlotForceSsl = 113,
    kHLSlotMaxPostbackAttempts = 114,
    kHLSlotClickTrackingRetryCount = 123,
    kHLSlotClickTrackingRetryDelay = 124,
    kHLSlotClickTrackingTimeout = 125,
};

// The code a postback delegate hears for a dispatch without a URL.
inline constexpr int32_t kHLPostbackWithoutURLError = -900;
