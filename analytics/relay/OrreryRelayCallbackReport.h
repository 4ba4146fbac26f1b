// The callback report put around stored trigger blocks: a header describing
// the application and the device, the trigger blocks, and a CRC-32 trailer,
// all big-endian. The report manager builds reports with it for the sender.
#pragma once

#include <optional>
#include <vector>

#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"

class OrreryRelayCallbackReport {
public:
    // Header words at the start of every report.
    static constexpr uint16_t kHeaderWord1 = 1;
    static constexpr uint16_t kHeaderWord2 = 1;
    // Identifier type of the identifier for vendor, and the kind in the second list.
    static constexpr uint16_t kVendorIdentifierType = 6;
    static constexpr uint16_t kSecondIdentifierKind = 0;

    // The report around the trigger blocks that are present (absent and empty
    // ones are left out and not counted), assembled now.
    static NSData callbackStatusDataForReports(const std::vector<std::optional<NSData>>& triggerBlocks);
    // The same with a given report time.
    static NSData callbackStatusDataForReports(const std::vector<std::optional<NSData>>& triggerBlocks,
                                               const NSDate& reportTime);
};
