// Registers the analytics client's archivable classes with the class
// registry, so archives that hold them can be read back.
#pragma once

void registerOrreryClasses();
