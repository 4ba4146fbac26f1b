#include <gtest/gtest.h>

#include "platform/foundation/NSURL.h"

namespace {

std::string resolve(const std::string& reference) {
    static Ref<NSURL> base = NSURL::URLWithString("http://a/b/c/d;p?q");
    auto url = NSURL::URLWithString(reference, base);
    return url ? url->absoluteString() : "(null)";
}

TEST(NSURLParse, RefusesTextThatIsNoURL) {
    for (const char* bad : {"", "http://a b/", "http://h/\"q\"", "http://h/<x>", "http://h/a\\b", "http://h/^",
                            "http://h/`", "http://h/{x}", "http://h/a|b", "http://h/\x7f", "http://h/\t",
                            "http://h/caf\xc3\xa9", "http://h/%", "http://h/%4", "http://h/%zz", "http://h/#a#b",
                            "http://h/[x]", "http://h/?q=[1]", "http://h:80a/", "http://h:99999/", "http://[::1/",
                            "http://u[1]@h/"}) {
        EXPECT_EQ(NSURL::URLWithString(bad), nullptr) << bad;
    }
}

TEST(NSURLParse, KeepsTheTextExactlyAndSplitsComponents) {
    auto url = NSURL::URLWithString("HTTP://Example.COM:8080/a/b%20c/file.tar.gz?x=1&y=%2F#frag");
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(url->absoluteString(), "HTTP://Example.COM:8080/a/b%20c/file.tar.gz?x=1&y=%2F#frag");
    EXPECT_EQ(url->scheme(), "HTTP");
    EXPECT_EQ(url->host(), "Example.COM");
    EXPECT_EQ(url->port(), 8080);
    EXPECT_EQ(url->path(), "/a/b c/file.tar.gz");
    EXPECT_EQ(url->query(), "x=1&y=%2F");
    EXPECT_EQ(url->fragment(), "frag");
    EXPECT_EQ(url->lastPathComponent(), "file.tar.gz");
    EXPECT_EQ(url->pathExtension(), "gz");
    EXPECT_EQ(url->pathComponents(), (std::vector<std::string>{"/", "a", "b c", "file.tar.gz"}));
    EXPECT_FALSE(url->isFileURL());

    auto bare = NSURL::URLWithString("http://h");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->absoluteString(), "http://h");
    EXPECT_EQ(bare->path(), "");
    EXPECT_EQ(bare->lastPathComponent(), "");
    EXPECT_EQ(bare->query(), std::nullopt);
    EXPECT_EQ(bare->port(), std::nullopt);

    auto root = NSURL::URLWithString("http://h/?");
    EXPECT_EQ(root->path(), "/");
    EXPECT_EQ(root->lastPathComponent(), "/");
    EXPECT_EQ(root->query(), "");

    EXPECT_EQ(NSURL::URLWithString("http://h/dir/")->lastPathComponent(), "dir");
    EXPECT_EQ(NSURL::URLWithString("http://[::1]:81/x")->host(), "::1");
    EXPECT_EQ(NSURL::URLWithString("itms-apps://itunes.example/app/id123?mt=8")->scheme(), "itms-apps");
    auto opaque = NSURL::URLWithString("mailto:someone@example.com");
    EXPECT_EQ(opaque->scheme(), "mailto");
    EXPECT_EQ(opaque->path(), "");
    EXPECT_EQ(NSURL::URLWithString("about:blank")->absoluteString(), "about:blank");
    auto relative = NSURL::URLWithString("a/b.mov?x");
    EXPECT_EQ(relative->scheme(), "");
    EXPECT_EQ(relative->path(), "a/b.mov");
}

TEST(NSURLParse, PathThatDoesNotDecodeToUTF8IsEmpty) {
    auto url = NSURL::URLWithString("http://h/%FF");
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(url->path(), "");
}

TEST(NSURLResolve, FollowsRFC3986Examples) {
    EXPECT_EQ(resolve("g:h"), "g:h");
    EXPECT_EQ(resolve("g"), "http://a/b/c/g");
    EXPECT_EQ(resolve("./g"), "http://a/b/c/g");
    EXPECT_EQ(resolve("g/"), "http://a/b/c/g/");
    EXPECT_EQ(resolve("/g"), "http://a/g");
    EXPECT_EQ(resolve("//g"), "http://g");
    EXPECT_EQ(resolve("?y"), "http://a/b/c/d;p?y");
    EXPECT_EQ(resolve("g?y"), "http://a/b/c/g?y");
    EXPECT_EQ(resolve("#s"), "http://a/b/c/d;p?q#s");
    EXPECT_EQ(resolve("g?y#s"), "http://a/b/c/g?y#s");
    EXPECT_EQ(resolve(";x"), "http://a/b/c/;x");
    EXPECT_EQ(resolve(""), "http://a/b/c/d;p?q");
    EXPECT_EQ(resolve("."), "http://a/b/c/");
    EXPECT_EQ(resolve(".."), "http://a/b/");
    EXPECT_EQ(resolve("../g"), "http://a/b/g");
    EXPECT_EQ(resolve("../.."), "http://a/");
    EXPECT_EQ(resolve("../../g"), "http://a/g");
    EXPECT_EQ(resolve("../../../g"), "http://a/g");
    EXPECT_EQ(resolve("/./g"), "http://a/g");
    EXPECT_EQ(resolve("g."), "http://a/b/c/g.");
    EXPECT_EQ(resolve("g/../h"), "http://a/b/c/h");
    EXPECT_EQ(resolve("a b"), "(null)");
    EXPECT_EQ(NSURL::URLWithString("x", nullptr)->absoluteString(), "x");
}

// Pages hand over paths of millions of segments: resolving them is linear
// work (quadratic work on these would not end within the test's time-out).
TEST(NSURLResolve, PathsOfMillionsOfSegmentsResolve) {
    auto repeat = [](const std::string& piece, size_t times) {
        std::string out;
        out.reserve(piece.size() * times);
        for (size_t i = 0; i < times; ++i) out += piece;
        return out;
    };
    const std::string segments = repeat("a/", 2500000);
    EXPECT_EQ(resolve(segments), "http://a/b/c/" + segments);
    EXPECT_EQ(resolve(repeat("a/../", 300000) + "g"), "http://a/b/c/g");
    EXPECT_EQ(resolve(repeat("../", 300000) + "g"), "http://a/g");
    EXPECT_EQ(resolve("/" + repeat("./", 300000) + "g/.."), "http://a/");
    EXPECT_EQ(resolve(repeat("x/", 300000) + repeat("../", 299999)), "http://a/b/c/x/");
}

TEST(NSURLMake, FileURLsAndPathEdits) {
    auto file = NSURL::fileURLWithPath("/tmp/my video#1?.mp4");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->absoluteString(), "file:///tmp/my%20video%231%3F.mp4");
    EXPECT_TRUE(file->isFileURL());
    EXPECT_EQ(file->path(), "/tmp/my video#1?.mp4");
    EXPECT_EQ(file->lastPathComponent(), "my video#1?.mp4");

    auto url = NSURL::URLWithString("http://h/v/clip.mov?x=1#t");
    EXPECT_EQ(url->URLByDeletingPathExtension()->absoluteString(), "http://h/v/clip?x=1#t");
    EXPECT_EQ(url->URLByAppendingPathComponent("a b")->absoluteString(), "http://h/v/clip.mov/a%20b?x=1#t");
    EXPECT_EQ(NSURL::URLWithString("http://h")->URLByAppendingPathComponent("x")->absoluteString(), "http://h/x");
    EXPECT_EQ(NSURL::URLWithString("http://h/.profile")->pathExtension(), "");
    EXPECT_TRUE(url->setResourceValue(true, NSURLIsExcludedFromBackupKey));
}

TEST(NSURLEquality, ComparesAbsoluteStrings) {
    auto a = NSURL::URLWithString("http://h/a");
    auto b = NSURL::URLWithString("http://h/a");
    auto c = NSURL::URLWithString("HTTP://h/a");
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(*c));
    EXPECT_EQ(a->description(), "http://h/a");
}

TEST(PercentEscapes, StandardEscapingByteForByte) {
    EXPECT_EQ(NSString::stringByAddingPercentEscapesUsingEncoding("-_.!~*'();/?:@&=+$,azAZ09", NSUTF8StringEncoding),
              "-_.!~*'();/?:@&=+$,azAZ09");
    EXPECT_EQ(NSString::stringByAddingPercentEscapesUsingEncoding("a b%c#d[e]f\"g<h>i\\j^k`l{m|n}o\n"),
              "a%20b%25c%23d%5Be%5Df%22g%3Ch%3Ei%5Cj%5Ek%60l%7Bm%7Cn%7Do%0A");
    EXPECT_EQ(NSString::stringByAddingPercentEscapesUsingEncoding("caf\xc3\xa9 \xf0\x9f\x98\x80"),
              "caf%C3%A9%20%F0%9F%98%80");
    // The escaping primitive with the reserved characters forced.
    EXPECT_EQ(platform::addPercentEscapes("a+b=c&d/e?f!*'();:@$,%#[] g", {}, "!*'();:@&=+$,/?%#[]"),
              "a%2Bb%3Dc%26d%2Fe%3Ff%21%2A%27%28%29%3B%3A%40%24%2C%25%23%5B%5D%20g");
    EXPECT_EQ(platform::addPercentEscapes("a b#c", " #"), "a b#c");
    EXPECT_EQ(platform::addPercentEscapes(std::string("a\0b", 3)), "a%00b");
}

TEST(PercentEscapes, DecodingRefusesBadSequencesAndNonUTF8) {
    EXPECT_EQ(NSString::stringByReplacingPercentEscapesUsingEncoding("%41%62+c%2f"), "Ab+c/");
    EXPECT_EQ(NSString::stringByReplacingPercentEscapesUsingEncoding("caf%C3%A9"), "caf\xc3\xa9");
    EXPECT_EQ(NSString::stringByReplacingPercentEscapesUsingEncoding(""), "");
    for (const char* bad : {"%", "%4", "a%zz", "%FF", "%C3", "%C0%AF", "%ED%A0%80"})
        EXPECT_EQ(NSString::stringByReplacingPercentEscapesUsingEncoding(bad), std::nullopt) << bad;
    std::string all;
    for (int c = 1; c < 128; ++c) all += static_cast<char>(c);
    EXPECT_EQ(NSString::stringByReplacingPercentEscapesUsingEncoding(
                  NSString::stringByAddingPercentEscapesUsingEncoding(all)),
              all);
}

TEST(PercentEscapes, AllowedCharacterSets) {
    EXPECT_EQ(NSString::stringByAddingPercentEncodingWithAllowedCharacters(
                  "a b&c=d#e%f\xc3\xa9", NSCharacterSet::URLQueryAllowedCharacterSet()),
              "a%20b&c=d%23e%25f%C3%A9");
    EXPECT_EQ(NSString::stringByAddingPercentEncodingWithAllowedCharacters(
                  "a-b.c", NSCharacterSet::alphanumericCharacterSet()),
              "a%2Db%2Ec");
    EXPECT_EQ(NSString::stringByAddingPercentEncodingWithAllowedCharacters(
                  "abc\xff", NSCharacterSet::characterSetWithCharactersInString("ab")),
              "ab%63%FF");
}

}  // namespace
