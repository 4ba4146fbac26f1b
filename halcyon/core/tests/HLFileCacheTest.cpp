// The resource file cache: names mapped to safe file names and unsafe ones
// refused, "has cached resource" only for regular files, nothing removed
// outside the folder, compaction by age at the TTL boundary (file dates set
// by the test, on the virtual clock) and by whole MB, refused once the client
// is initialised, the postback queue intact after a drop, and concurrent use.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <thread>

#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/NSFileManager.h"

namespace {

class HLFileCacheTest : public HalcyonTest {
protected:
    std::string folder() const { return home() + "/Library/Caches/hl"; }
    // A file of `bytes` bytes in the folder, modified `age` seconds ago.
    void place(const std::string& name, size_t bytes, double age = 0) {
        std::filesystem::create_directories(folder());
        ASSERT_TRUE(NSData::dataWithString(std::string(bytes, 'x')).writeToFile(folder() + "/" + name, true));
        ASSERT_TRUE(NSFileManager::defaultManager()->setAttributes(
            Value::dictionary({{NSFileModificationDate, Value(NSDate::dateWithTimeIntervalSinceNow(-age))}}),
            folder() + "/" + name));
    }
    std::vector<std::string> names(const Ref<HLSdk>& sdk) {
        std::vector<std::string> all = sdk->fileManager()->allCachedFileNames();
        std::sort(all.begin(), all.end());
        return all;
    }
    // Events off, so that no "landing" puts the postback file into the folder.
    Ref<HLInternalSdkSettings> quietSettings() {
        auto settings = serviceSettings();
        settings->putBool(false, kHLSlotEventsEnabled);
        return settings;
    }
    // Cleanup on, with this TTL and size limit.
    Ref<HLInternalSdkSettings> compactingSettings(int32_t ttl, int32_t megabytes) {
        auto settings = quietSettings();
        settings->putBool(true, kHLSlotCacheCleanupEnabled);
        settings->putInt(ttl, kHLSlotCacheFileTtlSeconds);
        settings->putInt(megabytes, kHLSlotCacheMaxSizeMb);
        return settings;
    }
};

TEST_F(HLFileCacheTest, NamesMapToFlatFileNamesAndUnsafeNamesAreRefused) {
    Ref<HLSdk> sdk = startSdk(quietSettings());
    auto files = sdk->fileManager();
    EXPECT_EQ(files->filePathForResourceNamed(std::string("a/b?c")), folder() + "/a_b_c");
    EXPECT_EQ(files->filePathForResourceNamed(std::string(R"(/\?%*|"<>:)")), folder() + "/__________");
    EXPECT_EQ(files->filePathForResourceNamed(std::string("plain.js")), folder() + "/plain.js");
    EXPECT_EQ(files->filePathForResourceNamed(std::nullopt), folder());
    EXPECT_EQ(files->urlStringForResourceNamed("x.png"), "file://" + folder() + "/x.png");
    EXPECT_EQ(files->urlForResourceNamed("x y.png")->absoluteString(), "file://" + folder() + "/x%20y.png");

    // Names that would reach the folder, its parent or another file.
    for (std::string bad : {std::string(""), std::string("."), std::string(".."), std::string("a\0b", 3)}) {
        EXPECT_FALSE(files->filePathForResourceNamed(bad)) << bad;
        EXPECT_FALSE(files->hasCachedResourceNamed(bad));
        EXPECT_FALSE(files->cacheResourceWithData(NSData::dataWithString("x"), bad));
        EXPECT_FALSE(files->removeExistingFileNamed(bad));
        EXPECT_FALSE(files->urlForResourceNamed(bad));
    }
    EXPECT_TRUE(listener->contains("Refused the resource name"));
    // "../x" maps to ".._x", inside the folder.
    EXPECT_TRUE(files->cacheResourceWithData(NSData::dataWithString("x"), "../escape"));
    EXPECT_TRUE(std::filesystem::exists(folder() + "/.._escape"));
    EXPECT_FALSE(std::filesystem::exists(home() + "/Library/Caches/escape"));
}

TEST_F(HLFileCacheTest, OnlyRegularFilesCountAndNothingOutsideIsRemoved) {
    Ref<HLSdk> sdk = startSdk(quietSettings());
    auto files = sdk->fileManager();
    EXPECT_FALSE(files->hasCachedResourceNamed("video.mp4"));
    EXPECT_TRUE(files->cacheResourceWithData(NSData::dataWithString("data"), "video.mp4"));
    EXPECT_TRUE(files->hasCachedResourceNamed("video.mp4"));
    EXPECT_EQ(NSData::dataWithContentsOfFile(folder() + "/video.mp4"), NSData::dataWithString("data"));

    std::filesystem::create_directories(folder() + "/sub");
    EXPECT_FALSE(files->hasCachedResourceNamed("sub"));
    const std::string outside = home() + "/Documents/keep.txt";
    ASSERT_TRUE(NSData::dataWithString("mine").writeToFile(outside, true));
    ASSERT_EQ(symlink(outside.c_str(), (folder() + "/link").c_str()), 0);
    ASSERT_EQ(symlink((home() + "/Documents").c_str(), (folder() + "/dir").c_str()), 0);
    EXPECT_FALSE(files->hasCachedResourceNamed("link"));
    // The same through the folder held open for a run of look-ups.
    HLFileManager::OpenFolder open = files->openFolder();
    ASSERT_TRUE(open.isOpen());
    EXPECT_EQ(files->cachedResourceURLString("video.mp4", open), "file://" + folder() + "/video.mp4");
    for (const char* name : {"sub", "link", "dir", "absent", ".."})
        EXPECT_FALSE(files->cachedResourceURLString(name, open)) << name;
    EXPECT_FALSE(files->removeExistingFileAtPath(outside));
    EXPECT_FALSE(files->removeExistingFileAtPath(folder() + "/../../../Documents/keep.txt"));
    EXPECT_FALSE(files->removeExistingFileAtPath(folder() + "/dir/keep.txt"));
    EXPECT_TRUE(listener->contains("lies outside the cache folder"));
    EXPECT_FALSE(files->removeExistingFileNamed("absent"));

    // The folder's entries are listed without entering links; a drop
    // removes the links, never what they point at.
    std::filesystem::create_directories(folder() + "/sub/deeper");
    ASSERT_TRUE(NSData::dataWithString("n").writeToFile(folder() + "/sub/deeper/nested", true));
    std::vector<std::string> listed = names(sdk);
    EXPECT_EQ(listed, (std::vector<std::string>{"dir", "link", "nested", "video.mp4"}));
    files->dropCache();
    EXPECT_TRUE(names(sdk).empty());
    EXPECT_EQ(NSData::dataWithContentsOfFile(outside), NSData::dataWithString("mine"));
    EXPECT_TRUE(std::filesystem::exists(home() + "/Documents/keep.txt"));
}

TEST_F(HLFileCacheTest, FilesOlderThanTheTtlGoAtStartUp) {
    place("fresh", 10);
    place("exact", 10, 86400);
    place("old", 10, 86401);
    place("future", 10, -3600);  // counts as very old
    Ref<HLSdk> sdk = startSdk(compactingSettings(86400, -1));
    EXPECT_EQ(names(sdk), (std::vector<std::string>{"exact", "fresh"}));
    EXPECT_EQ(sdk->statsManager()->valueOfKey("cached_files_expired"), Value(2));
    EXPECT_TRUE(listener->contains("File " + folder() + "/old has expired, removing..."));
    EXPECT_TRUE(listener->contains("Cache had no maximum size set; skipping drop..."));
}

TEST_F(HLFileCacheTest, TheSizeLimitComparesWholeMegabytes) {
    place("a", 1 << 20);
    place("b", 1 << 19);  // 1.5 MB: 1 whole MB, not over a limit of 1
    auto settings = compactingSettings(-1, 1);
    Ref<HLSdk> sdk = startSdk(settings);
    EXPECT_EQ(names(sdk), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(listener->contains("Cache is present but under size limit. Not dropping..."));
    EXPECT_EQ(sdk->fileManager()->cacheSizeAfterDroppingExpiredFiles(), 3u << 19);

    place("c", 1 << 19);  // 2 MB
    Ref<HLSdk> next = restartSdk(settings);
    EXPECT_TRUE(names(next).empty());
    EXPECT_EQ(next->statsManager()->valueOfKey("cache_drop_count"), Value(1));
    EXPECT_EQ(HLFileManager::bytesToMegabytes((uint64_t{5} << 30) + 1), 5120u);  // no 32-bit wrap
}

TEST_F(HLFileCacheTest, CompactionIsOffByDefaultAndRefusedOnceInitialised) {
    place("old", 10, 10 * 86400);
    Ref<HLSdk> sdk = startSdk(quietSettings());
    EXPECT_EQ(names(sdk), (std::vector<std::string>{"old"}));
    EXPECT_EQ(sdk->fileManager()->fileTTL(), -1);
    EXPECT_EQ(sdk->fileManager()->maximumCacheSize(), -1);

    sdk->settingsManager()->putBool(true, kHLSlotCacheCleanupEnabled);
    sdk->fileManager()->compactCache();
    EXPECT_EQ(names(sdk), (std::vector<std::string>{"old"}));
    EXPECT_TRUE(listener->contains(
        "ERROR [HLFileManager] Cannot empty file cache after SDK has completed initialization and ad loads are in progress!"));
}

TEST_F(HLFileCacheTest, ADropKeepsThePendingPostbacks) {
    service.scriptStatuses(simulator::HalcyonService::postbackPath("wait"), {500, 500});
    Ref<HLSdk> sdk = startSdk();
    sdk->persistentPostbackManager()->submitPostback(NSURL::URLWithString(service.postbackUrl("wait") + "?n=1"),
                                                     Value());
    ASSERT_TRUE(settle());
    place("big", 2 << 20);

    // The next start drops the whole folder but the postback file, and
    // sends the stored postback again.
    Ref<HLSdk> next = restartSdk(compactingSettings(-1, 1));
    EXPECT_EQ(next->statsManager()->valueOfKey("cache_drop_count"), Value(1));
    EXPECT_EQ(names(next), (std::vector<std::string>{next->persistentPostbackManager()->queueFileName()}));
    ASSERT_EQ(next->persistentPostbackManager()->postbackQueue().size(), 1u);
    EXPECT_EQ(next->persistentPostbackManager()->postbackQueue()[0]->attemptNumber(), 2);
    EXPECT_EQ(service.postbacksTo("wait").size(), 2u);
    Ref<HLSdk> third = restartSdk(quietSettings());
    EXPECT_EQ(service.postbacksTo("wait").size(), 3u);
    EXPECT_TRUE(third->persistentPostbackManager()->postbackQueue().empty());
}

TEST_F(HLFileCacheTest, ConcurrentWritesReadsAndCompaction) {
    Ref<HLSdk> sdk = startSdk(quietSettings());
    auto files = sdk->fileManager();
    constexpr int kFilesPerThread = 20;
    auto work = [files](int thread) {
        for (int i = 0; i < kFilesPerThread; ++i) {
            std::string name = "t" + std::to_string(thread) + "/" + std::to_string(i);
            files->cacheResourceWithData(NSData::dataWithString(name), name);
            files->hasCachedResourceNamed(name);
            if (i % 5 == 0) files->cacheSizeAfterDroppingExpiredFiles();
            if (i % 2 == 0) files->removeExistingFileNamed(name);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, t);
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(files->allCachedFileNames().size(), 4u * kFilesPerThread / 2);
    // Left: the odd ones, "tN/1" to "tN/9" (4 bytes) and "tN/11" to "tN/19" (5).
    EXPECT_EQ(files->cacheSizeAfterDroppingExpiredFiles(), 4u * (5 * 4 + 5 * 5));
}

}  // namespace
