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
    std::optional<std::string> vendorId = OrreryUtil::getIdentifierForVendor();
    std::optional<NSData> vendorIdBytes;
    if (vendorId) vendorIdBytes = NSString::dataUsingEncoding(*vendorId);

    NSData report;
    OrreryProtocolData::appendUshort(kHeaderWord1, report);
    OrreryProtocolData::appendUshort(kHeaderWord2, report);
    OrreryProtocolData::appendTimestamp(reportTime, report);
    OrreryProtocolData::appendString(storage->apiKey(), report);
    OrreryProtocolData::appendString(storage->appVersion(), report);
    OrreryProtocolData::appendUshort(static_cast<uint64_t>(OrrerySession::getAgentVersion()), report);
    OrreryProtocolData::appendUshort(OrreryiOSUtil::agentPlatform(), report);
    OrreryProtocolData::appendString(platform::DeviceProfile::current().systemVersion, report);
    OrreryProtocolData::appendBoolean(!OrreryUtil::isAdTrackingEnabled(), report);
    OrreryProtocolData::appendUshort(1, report);
    OrreryProtocolData::appendUshort(kVendorIdentifierType, report);
    OrreryProtocolData::appendShortData(vendorIdBytes, report);
    OrreryProtocolData::appendUshort(1, report);
    OrreryProtocolData::appendUshort(kSecondIdentifierKind, report);
    OrreryProtocolData::appendString(vendorId, report);

    NSData blocks;
    uint64_t count = 0;
    for (const auto& block : triggerBlocks) {
        // An empty block would be counted without bytes and break the report.
        if (!block || block->length() == 0) continue;
        blocks.appendData(*block);
        ++count;
    }
    OrreryProtocolData::appendUshort(count, report);
    report.appendData(blocks);
    OrreryProtocolData::appendInt(OrreryUtil::dataChecksum(report), report);
    return report;
}
