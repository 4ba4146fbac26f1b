// Registers the store classes with the class registry: the store sheet
// always, the browser sheet from system version 9.0 (the device profile's).
#pragma once

namespace platform {

void registerStoreClasses();

}  // namespace platform
