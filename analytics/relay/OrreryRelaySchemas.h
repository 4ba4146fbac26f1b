// The Avro schema texts of the Relay configuration exchange. The client and
// the simulator's configuration endpoint both parse these, so both sides of
// the wire speak exactly the same records.
#pragma once

#include <string_view>

namespace OrreryRelaySchemas {

// The namespace of every record; it never reaches the encoded data.
inline constexpr std::string_view kNamespace = "com.orrery.relay.config";

// The request the client posts: application, device and identifiers.
extern const std::string_view kConfigRequest;
// The nested records of the request, each on its own so that their values
// can be built separately (same field lists as inside kConfigRequest).
extern const std::string_view kIosTags;
extern const std::string_view kGeolocation;
extern const std::string_view kDeviceId;

// The server's answer: times to live, callbacks with their triggers, limits.
extern const std::string_view kConfigResponse;

// The default callback-report URL carried by the response schema.
extern const std::string_view kDefaultAgentReportUrl;

}  // namespace OrreryRelaySchemas
