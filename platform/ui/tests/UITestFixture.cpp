#include "UITestFixture.h"

#include "platform/foundation/Platform.h"

namespace platform::testing {

void UITestFixture::TearDown() {
    driver().drain();  // pending completions run while the test's objects live
    PlatformTest::TearDown();
}

}  // namespace platform::testing
