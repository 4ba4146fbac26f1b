// Registers the media classes with the class registry (NSClassFromString).
#pragma once

namespace platform {

void registerMediaClasses();

}  // namespace platform
