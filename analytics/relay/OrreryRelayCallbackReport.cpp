#include "analytics/relay/OrreryRelayCallbackReport.h"

#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryProtocolData.h"
#include "analytics/OrrerySession.h"
#include "analytics/OrreryUtil.h"
#include "analytics/OrreryiOSUtil.h"
#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSString.h"

NSData OrreryRelayCallbackReport::callbackStatusDataForReports(const std::vector<std::optional<NSData>>& triggerBlocks) {
    return callbackStatusDataForReports(triggerBlocks, NSDate::date());
}

NSData OrreryRelayCallbackReport::callbackStatusDataForReports(const std::vector<std::optional<NSData>>& triggerBlocks,
                                                               const NSDate& reportTime) {
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    const std::optional<std::string> vendorId = OrreryUtil::getIdentifierForVendor();
    const std::string apiKey = storage->apiKey();
    const std::string appVersion = storage->appVersion();
    const std::string& systemVersion = platform::DeviceProfile::current().systemVersion;
    // One buffer, sized once: the header, the blocks and the checksum.
    size_t size = 64 + 2 * vendorId.value_or("").size() + apiKey.size() + appVersion.size() + systemVersion.size();
    for (const auto& block : triggerBlocks) size += block ? block->length() : 0;
    OrreryProtocolData::Buffer report;
    report.reserve(size);
    OrreryProtocolData::appendUshort(kHeaderWord1, report);
    OrreryProtocolData::appendUshort(kHeaderWord2, report);
    OrreryProtocolData::appendTimestamp(reportTime, report);
    OrreryProtocolData::appendString(apiKey, report);
    OrreryProtocolData::appendString(appVersion, report);
    OrreryProtocolData::appendUshort(static_cast<uint64_t>(OrrerySession::getAgentVersion()), report);
    OrreryProtocolData::appendUshort(OrreryiOSUtil::agentPlatform(), report);
    OrreryProtocolData::appendString(systemVersion, report);
    OrreryProtocolData::appendBoolean(!OrreryUtil::isAdTrackingEnabled(), report);
    OrreryProtocolData::appendUshort(1, report);
    OrreryProtocolData::appendUshort(kVendorIdentifierType, report);
    // Its UTF-8 bytes as short data: the same bytes as the string form.
    OrreryProtocolData::appendStringUnlimited(vendorId, report);
    OrreryProtocolData::appendUshort(1, report);
    OrreryProtocolData::appendUshort(kSecondIdentifierKind, report);
    OrreryProtocolData::appendString(vendorId, report);

    uint64_t count = 0;
    for (const auto& block : triggerBlocks) count += block && block->length() > 0 ? 1 : 0;
    OrreryProtocolData::appendUshort(count, report);
    // An empty block would be counted without bytes and break the report.
    for (const auto& block : triggerBlocks)
        if (block && block->length() > 0) report.insert(report.end(), block->bytes(), block->bytes() + block->length());
    OrreryProtocolData::appendInt(OrreryUtil::dataChecksum(report.data(), report.size()), report);
    return NSData(std::move(report));
}
