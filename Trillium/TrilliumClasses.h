// Registers the Trillium client's classes with the class registry, so that
// archives holding them can be read back and class-name probes find them.
#pragma once

void registerTrilliumClasses();
