// Registers the banner and native ad classes with the class registry
// (called by registerTrilliumDisplayClasses).
#pragma once

void registerTrilliumBannerNativeClasses();
