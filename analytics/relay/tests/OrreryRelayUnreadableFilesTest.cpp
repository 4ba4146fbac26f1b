// Stored report files that cannot be read for a while, through the real
// sender and the loopback report endpoint: the process at its open-file
// limit during a retransmission, and reads failing (the file-system seam) on
// a block file, an earlier version's shared file, a moved file of a split a
// kill cut short, the send index and the records' archive at a start.
// Nothing stored is deleted unsent, each block is taken once, and a lasting
// failure is logged twice.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "analytics/relay/tests/RelayReportSenderTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"

namespace {

using platform::testing::FileSystemConditions;
using simulator::Answer;

// Holds the process at its open-file limit while it lives: the soft limit
// lowered to just above the descriptors open now and the rest taken, so that
// the next open fails with EMFILE. Everything is given back at the end.
class DescriptorLimitReached {
public:
    DescriptorLimitReached() {
        if (getrlimit(RLIMIT_NOFILE, &saved_) != 0) return;
        int highest = 2;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(highest) + 8;
        if (lowered.rlim_cur > saved_.rlim_cur || setrlimit(RLIMIT_NOFILE, &lowered) != 0) return;
        lowered_ = true;
        for (;;) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                reached_ = errno == EMFILE;
                return;
            }
            taken_.push_back(fd);
        }
    }
    ~DescriptorLimitReached() {
        for (int fd : taken_) ::close(fd);
        if (lowered_) setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorLimitReached(const DescriptorLimitReached&) = delete;
    DescriptorLimitReached& operator=(const DescriptorLimitReached&) = delete;
    bool reached() const { return reached_; }

private:
    rlimit saved_{};
    bool lowered_ = false;
    bool reached_ = false;
    std::vector<int> taken_;
};

// The file's bytes, read past the seam.
std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class OrreryRelayUnreadableFilesTest : public RelayReportSenderTest {
protected:
    std::string key() const { return OrreryRelayCBReportSender::relayCBReportDataKey(); }
    // Stores each trigger block as a block of a group of its own.
    void storeBlocks(const std::vector<std::string>& names) {
        auto s = sender();
        dispatch_sync(sessionQueue, [&] {
            for (const auto& name : names) EXPECT_TRUE(s->storeRelayCBReportData(namedBlock(name), "G " + name));
        });
        s->relayCBReportDataIndex()->waitForPendingChanges();
    }
    // A file of the items `names` as an earlier version stored a hand-over,
    // added to the index, whose saved form then names the items `named`.
    Ref<OrreryDataSenderBlockInfo> storeSharedFile(const std::vector<std::string>& names, const std::vector<int64_t>& named) {
        std::vector<NSData> items;
        for (const auto& name : names) items.push_back(namedBlock(name));
        auto shared = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems(items, key());
        EXPECT_TRUE(shared);
        auto index = sender()->relayCBReportDataIndex();
        index->addBlockInfo(shared, key());
        std::vector<std::pair<int64_t, int64_t>> itemSizes;
        for (int64_t item : named) itemSizes.emplace_back(item, static_cast<int64_t>(items[static_cast<size_t>(item)].length()));
        EXPECT_TRUE(nameItemsInSavedIndex(index, shared->identifier(), itemSizes));
        return shared;
    }
    // The shared file of "zero", "one" and "two" split into moved files as a
    // kill left it: the moved files written and the shared one removed, the
    // index not saved. Null when the split failed.
    Ref<OrreryDataSenderBlockInfo> splitCutShort() {
        auto shared = storeSharedFile({"zero", "one", "two"}, {0, 1, 2});
        return OrreryDataSenderBlockInfo::separatedFromSharedFile(shared->identifier(), {0, 1, 2}, key()) ? shared : nullptr;
    }
    static std::string movedFilePath(const Ref<OrreryDataSenderBlockInfo>& shared, uint32_t item) {
        return OrreryUtil::filePathDirectory() + "/" + OrreryDataSenderBlockInfo::separatedFileName(shared->identifier(), item);
    }
    // The lines saying that the file `name` began, and ended, to be unreadable.
    size_t linesBeginning(const std::string& name) { return logCapture().count(name + " cannot be read"); }
    size_t linesEnding(const std::string& name) { return logCapture().count(name + " can be read again"); }
};

TEST_F(OrreryRelayUnreadableFilesTest, TooManyOpenFilesDuringARetransmissionLosesNoBlock) {
#if defined(__SANITIZE_ADDRESS__)
    // This build's UndefinedBehaviorSanitizer checks each polymorphic call it
    // has not met yet through a pipe, which the limit denies, and fails it.
    GTEST_SKIP() << "runs in the ThreadSanitizer build";
#endif
    store(makeSettings({}, {}));
    storeBlocks({"one", "two", "three"});
    auto s = sender();
    expectLogLine(std::strerror(EMFILE));
    {
        DescriptorLimitReached limit;
        ASSERT_TRUE(limit.reached());
        dispatch_sync(sessionQueue, [s] { s->retransmitNotSentBlocks(); });
        s->relayCBReportDataIndex()->waitForPendingChanges();
    }
    EXPECT_EQ(storedBlocks(), 3u);
    EXPECT_EQ(blockFiles(), 3u);

    retransmit();
    expectEachTakenOnceAndNothingLeft({"one", "two", "three"});
}

TEST_F(OrreryRelayUnreadableFilesTest, ABlockWhoseReadsFailKeepsItsPlaceAndIsSentOnceReadable) {
    store(makeSettings({}, {}));
    storeBlocks({"first", "second", "third"});
    const auto second = sender()->relayCBReportDataIndex()->notSentBlocksForDataKey(key())[1];

    // The two others go, and their answer starts another walk: it fails too.
    FileSystemConditions::setReadsFail(second->filePath(), EMFILE);
    retransmit();
    EXPECT_EQ(timesTaken("first"), 1u);
    EXPECT_EQ(timesTaken("third"), 1u);
    FileSystemConditions::setReadsFail(second->filePath(), EIO);
    retransmit();
    EXPECT_EQ(timesTaken("second"), 0u);
    EXPECT_EQ(storedBlocks(), 1u);
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(second->filePath()));

    FileSystemConditions::setReadsFail(second->filePath(), std::nullopt);
    retransmit();
    expectEachTakenOnceAndNothingLeft({"second"});
    EXPECT_EQ(linesBeginning(second->identifier()), 1u);
    EXPECT_EQ(linesEnding(second->identifier()), 1u);
}

// An earlier version's shared file that cannot be read is neither moved nor
// damaged: its blocks keep their places and the file until a split succeeds,
// the item the endpoint answered before never comes back, even once the
// index is lost, and a hundred attempts log its state twice.
TEST_F(OrreryRelayUnreadableFilesTest, AnUnreadableSharedFileKeepsItsBlocksUntilItCanBeSplit) {
    store(makeSettings({}, {}));
    // Item 1 was answered: its block left the index, its bytes stayed in the file.
    auto shared = storeSharedFile({"first", "answered", "third"}, {0, 2});

    FileSystemConditions::setReadsFail(shared->filePath(), EMFILE);
    ASSERT_NO_FATAL_FAILURE(restartSender(false));
    EXPECT_EQ(storedBlocks(), 2u);
    retransmit();
    FileSystemConditions::setReadsFail(shared->filePath(), EIO);
    ASSERT_NO_FATAL_FAILURE(restartSender(false));
    for (int attempt = 0; attempt < 100; ++attempt) retransmit();
    EXPECT_TRUE(relay.reports().empty());
    EXPECT_EQ(storedBlocks(), 2u);
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(shared->filePath()));

    // Readable again: the next attempt splits it and sends the two.
    FileSystemConditions::setReadsFail(shared->filePath(), std::nullopt);
    retransmit();
    EXPECT_EQ(timesTaken("first"), 1u);
    EXPECT_EQ(timesTaken("third"), 1u);
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(shared->filePath()));
    EXPECT_EQ(linesBeginning(shared->identifier()), 1u);
    EXPECT_EQ(linesEnding(shared->identifier()), 1u);
    ASSERT_NO_FATAL_FAILURE(restartSender(true));
    retransmit();
    EXPECT_EQ(timesTaken("answered"), 0u);
    expectEachTakenOnceAndNothingLeft({"first"});
}

// A kill came after a split wrote the moved files and removed the shared
// one, before the index was saved; at the next start one moved file cannot
// be read, so the group waits, and the reports posted meanwhile fail.
TEST_F(OrreryRelayUnreadableFilesTest, ASplitCutShortWithAnUnreadableMovedFileSendsEachBlockOnce) {
    store(makeSettings({}, {}));
    auto shared = splitCutShort();
    ASSERT_TRUE(shared);

    FileSystemConditions::setReadsFail(movedFilePath(shared, 1), EIO);
    ASSERT_NO_FATAL_FAILURE(restartSender(false));
    EXPECT_EQ(storedBlocks(), 3u);
    relay.setReportAnswer(Answer::drop());
    retransmit();

    FileSystemConditions::setReadsFail(movedFilePath(shared, 1), std::nullopt);
    relay.setReportAnswer(Answer::ok());
    retransmit();
    expectEachTakenOnceAndNothingLeft({"zero", "one", "two"});
}

// The files an earlier version could leave after such a start: records its
// recovery added for two moved files, beside the group that moves items to
// the same files.
TEST_F(OrreryRelayUnreadableFilesTest, ARecordAnEarlierStartRecoveredForAMovedFileIsTheBlocksOnlyOne) {
    store(makeSettings({}, {}));
    auto index = sender()->relayCBReportDataIndex();
    storeBlocks({"recovered 0", "recovered 2"});
    auto recovered = index->notSentBlocksForDataKey(key());
    auto shared = splitCutShort();
    ASSERT_TRUE(shared);
    // The two records name the moved files of items 0 and 2 instead.
    std::string saved = bytesOf(index->indexFilePath());
    for (size_t i = 0; i < 2; ++i) {
        const std::string moved = OrreryDataSenderBlockInfo::separatedFileName(shared->identifier(), i == 0 ? 0 : 2);
        const size_t at = saved.find(recovered[i]->identifier());
        ASSERT_NE(at, std::string::npos);
        saved.replace(at, moved.size(), moved);
        ASSERT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(recovered[i]->filePath()));
    }
    ASSERT_TRUE(NSData::dataWithString(saved).writeToFile(index->indexFilePath(), true));
    index = nullptr;

    ASSERT_NO_FATAL_FAILURE(restartSender(false));
    EXPECT_EQ(storedBlocks(), 3u);
    retransmit();
    expectEachTakenOnceAndNothingLeft({"zero", "one", "two"});
}

// The send index cannot be read at two starts in a row. It is not replaced
// and the folder is not recovered into an empty one (which would bring back
// the item of an earlier version's shared file that was answered); hand-overs
// meanwhile are sent, or kept when their report fails.
TEST_F(OrreryRelayUnreadableFilesTest, AnIndexUnreadableAtAStartIsReadLaterAndNothingComesBackOrIsLost) {
    store(makeSettings({}, {}));
    storeBlocks({"own"});
    auto shared = storeSharedFile({"first", "answered", "third"}, {0, 2});
    const std::string indexFile = sender()->relayCBReportDataIndex()->indexFilePath();
    const std::string saved = bytesOf(indexFile);

    FileSystemConditions::setReadsFail(indexFile, EIO);
    ASSERT_NO_FATAL_FAILURE(restartSender(false));
    ASSERT_TRUE(sender()->sendRelayReportsData({namedBlock("new")}));
    settle();
    relay.setReportAnswer(Answer::drop());
    ASSERT_TRUE(sender()->sendRelayReportsData({namedBlock("kept")}));
    settle();
    relay.setReportAnswer(Answer::ok());
    retransmit();
    EXPECT_EQ(timesTaken("new"), 1u);
    EXPECT_EQ(timesTaken("kept"), 1u);
    ASSERT_NO_FATAL_FAILURE(restartSender(false));
    relay.setReportAnswer(Answer::drop());
    ASSERT_TRUE(sender()->sendRelayReportsData({namedBlock("kept across a start")}));
    settle();
    ASSERT_NO_FATAL_FAILURE(restartSender(false));
    relay.setReportAnswer(Answer::ok());
    retransmit();
    EXPECT_EQ(bytesOf(indexFile), saved);
    for (const char* name : {"own", "first", "third", "kept across a start"}) EXPECT_EQ(timesTaken(name), 0u) << name;

    FileSystemConditions::setReadsFail(indexFile, std::nullopt);
    retransmit();
    EXPECT_EQ(timesTaken("answered"), 0u);
    expectEachTakenOnceAndNothingLeft({"own", "first", "third", "new", "kept", "kept across a start"});
    EXPECT_EQ(linesBeginning(indexFile), 1u);
    EXPECT_EQ(linesEnding(indexFile), 1u);
}

// The report manager's archive cannot be read at its start. It is not
// written over: a firing meanwhile is recorded in memory, and the retry's
// outcome for a saved record waits for it; once it reads, the report carries
// each firing once, the saved one with both its attempts.
TEST_F(OrreryRelayUnreadableFilesTest, ARecordsArchiveUnreadableAtAStartIsReadLaterAndLosesNothing) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3, 4));
    partner.scriptStatuses("/cb", {500, 200});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    std::string archive;
    dispatch_sync(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [&] {
        auto manager = OrreryRelayCallbackReportManager::sharedInstance();
        manager->waitForArchiving();
        archive = manager->reportsFilePath();
    });
    const std::string saved = bytesOf(archive);

    FileSystemConditions::setReadsFail(archive, EIO);
    OrreryRelayCallbackReportManager::cleanup();
    dispatch_sync(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                  [] { OrreryRelayCallbackReportManager::sharedInstance(); });
    controller->processEventWithParams("Level", eventParams(2));
    settle();
    driver().advance(90);  // the first firing's retry
    settle();
    OrreryRelayCallbackReportManager::sharedInstance()->waitForArchiving();
    dispatch_sync(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                  [] { OrreryRelayCallbackReportManager::sharedInstance()->setSavedTriggers({}); });
    EXPECT_EQ(bytesOf(archive), saved);
    EXPECT_TRUE(relay.reports().empty());

    FileSystemConditions::setReadsFail(archive, std::nullopt);
    controller->processEventWithParams("Level", eventParams(3));
    auto report = soleReport();
    ASSERT_TRUE(report);
    std::map<int64_t, std::vector<int>> statuses;  // event occurrence → attempt statuses
    for (const auto& trigger : report->triggers)
        for (const auto& cb : trigger.callbacks)
            for (const auto& attempt : cb.attempts) statuses[trigger.eventOccurrenceId].push_back(attempt.httpStatus);
    EXPECT_EQ(statuses, (std::map<int64_t, std::vector<int>>{{1, {500, 200}}, {2, {200}}, {3, {200}}}));
}

}  // namespace
