#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "platform/foundation/Digest.h"
#include "platform/foundation/NSUUID.h"
#include "platform/foundation/Random.h"

namespace {

TEST(Digest, Md5MatchesTheReferenceVectors) {
    const std::pair<std::string, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, hex] : vectors) {
        EXPECT_EQ(platform::hexLower(platform::md5(text)), hex) << text;
        unsigned char out[CC_MD5_DIGEST_LENGTH];
        EXPECT_EQ(CC_MD5(text.data(), static_cast<CC_LONG>(text.size()), out), out);
        EXPECT_EQ(platform::hexLower(out, sizeof out), hex);
    }
}

TEST(Digest, Sha1MatchesTheReferenceVectors) {
    EXPECT_EQ(platform::hexLower(platform::sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(platform::hexLower(platform::sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(platform::hexLower(platform::sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    const std::string million(1000000, 'a');
    unsigned char out[CC_SHA1_DIGEST_LENGTH];
    CC_SHA1(million.data(), static_cast<CC_LONG>(million.size()), out);
    EXPECT_EQ(platform::hexLower(out, sizeof out), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(platform::sha1(NSData::dataWithString("abc")), platform::sha1("abc"));
}

TEST(Digest, Crc32) {
    EXPECT_EQ(platform::crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(platform::crc32(""), 0u);
    EXPECT_EQ(platform::crc32("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    EXPECT_EQ(static_cast<int32_t>(platform::crc32("123456789")), -873187034);  // the signed form is the caller's
}

class RandomSeam : public ::testing::Test {
protected:
    void TearDown() override { platform::testing::setRandomSource(nullptr); }
};

TEST_F(RandomSeam, SourceDrivesEveryDraw) {
    std::vector<uint32_t> values{7, 100, 0xFFFFFFFF};
    size_t next = 0;
    platform::testing::setRandomSource([&] { return values[next++ % values.size()]; });
    EXPECT_EQ(arc4random(), 7u);
    EXPECT_EQ(arc4random_uniform(10), 0u);  // 100 % 10
    EXPECT_EQ(arc4random_uniform(10), 5u);  // 0xFFFFFFFF % 10
    EXPECT_EQ(arc4random_uniform(0), 0u);
    EXPECT_EQ(arc4random_uniform(1), 0u);
    platform::testing::setRandomSource([] { return 0u; });
    EXPECT_EQ(NSUUID::UUID()->UUIDString(), "00000000-0000-4000-8000-000000000000");
    EXPECT_EQ(arc4random_uniform(3), 0u);  // a constant source never loops
}

TEST_F(RandomSeam, UniformIsInRangeAndCoversIt) {
    std::map<uint32_t, int> counts;
    for (int i = 0; i < 6000; ++i) {
        const uint32_t r = arc4random_uniform(6);
        ASSERT_LT(r, 6u);
        ++counts[r];
    }
    ASSERT_EQ(counts.size(), 6u);
    for (const auto& [v, n] : counts) EXPECT_GT(n, 700) << v;  // expected 1000 each
}

TEST_F(RandomSeam, UniformIsUnbiasedForLargeBounds) {
    // With n = 3 * 2^30 a plain modulo would put half the draws below 2^30;
    // unbiased, a third land there.
    const uint32_t n = 3u << 30;
    int low = 0;
    for (int i = 0; i < 3000; ++i) {
        const uint32_t r = arc4random_uniform(n);
        ASSERT_LT(r, n);
        if (r < (1u << 30)) ++low;
    }
    EXPECT_GT(low, 800);
    EXPECT_LT(low, 1200);
}

TEST(NSUUID, Version4UpperCaseAndParsing) {
    const std::regex shape("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string s = CFUUIDCreateString();
        EXPECT_TRUE(std::regex_match(s, shape)) << s;
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 100u);
    auto parsed = NSUUID::initWithUUIDString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->UUIDString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_TRUE(parsed->isEqual(*NSUUID::initWithUUIDString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F")));
    EXPECT_FALSE(NSUUID::initWithUUIDString("E621E1F8C36C495A93FC0C247A3E6E5F"));
    EXPECT_FALSE(NSUUID::initWithUUIDString("G621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
    EXPECT_FALSE(NSUUID::initWithUUIDString(""));
}

}  // namespace
