// Registers the Halcyon core's classes with the class registry, so that
// class-name probes (other clients look for "HLSdk") and archives find them.
// The program calls it once at start-up; test fixtures call it too.
#pragma once

void registerHalcyonCoreClasses();
