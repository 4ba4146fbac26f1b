// Registers the Halcyon display side's classes with the class registry (the
// core's too) and plugs it into the core: the store page the ad service
// opens comes from here (HLDisplayHooks). The program calls it once at
// start-up, before the first ad is shown; test fixtures call it too.
#pragma once

void registerHalcyonDisplayClasses();
