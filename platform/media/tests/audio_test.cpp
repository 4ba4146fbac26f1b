// The audio session's category: kept, refused when unknown, restorable.
#include <gtest/gtest.h>

#include "platform/media/AVAudioSession.h"
#include "platform/testing/PlatformTest.h"

namespace {

class AudioTest : public platform::testing::PlatformTest {};

TEST_F(AudioTest, CategoryIsKeptAndRestorable) {
    auto session = AVAudioSession::sharedInstance();
    EXPECT_EQ(session, AVAudioSession::sharedInstance());
    std::string original = session->category();
    EXPECT_EQ(original, AVAudioSessionCategorySoloAmbient);
    Ref<NSError> error;
    EXPECT_TRUE(session->setCategory(AVAudioSessionCategoryPlayback, &error));
    EXPECT_FALSE(error);
    EXPECT_EQ(session->category(), AVAudioSessionCategoryPlayback);
    expectLogLine("AVAudioSession::setCategory: unknown category \"loud\"");
    EXPECT_FALSE(session->setCategory("loud", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -50);
    EXPECT_EQ(session->category(), AVAudioSessionCategoryPlayback);
    EXPECT_TRUE(session->setCategory(original, nullptr));
    EXPECT_EQ(session->category(), original);
    EXPECT_TRUE(session->setActive(true, nullptr));
    EXPECT_TRUE(session->isActive());
}

}  // namespace
