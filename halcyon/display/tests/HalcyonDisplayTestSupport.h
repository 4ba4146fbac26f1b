// The Halcyon display tests' fixture: the core's fixture (the Halcyon service
// on loopback, settings pointing at it, a recording log listener) with a
// started client, plus a scratch folder for snapshots and fakes that record
// what the application hears from the display side.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/testing/SnapshotComparison.h"

class HalcyonDisplayTest : public HalcyonTest {
protected:
    void SetUp() override {
        HalcyonTest::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        sdk = startSdk();
    }

    // A folder for snapshots inside the test's home.
    std::string scratch() {
        std::string folder = home() + "/snapshots";
        std::filesystem::create_directories(folder);
        return folder;
    }

    Ref<HLSdk> sdk;
};
