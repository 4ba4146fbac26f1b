// Registers Relay's archivable classes with the class registry, so the stored
// settings and the report manager's archive can be read back.
#pragma once

void registerOrreryRelayClasses();
