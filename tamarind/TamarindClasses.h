// Registers the Tamarind client's classes with the class registry, so that
// class-name probes find what is linked.
#pragma once

void registerTamarindClasses();
