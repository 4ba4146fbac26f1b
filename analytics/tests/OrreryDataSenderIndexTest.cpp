// The send index: blocks kept in order per data key across restarts, removal
// by identifier or group with their files, other keys dropped at set-up, the
// 50-block discard, damaged or forged index files, the block file byte for
// byte, damaged blocks, a batch stored a file a block, the shared files of an
// earlier version split, and block files a lost index is rebuilt from.
#include <set>
#include <string>
#include <vector>

#include "analytics/OrreryDataSenderIndex.h"
#include "analytics/OrreryUtil.h"
#include "analytics/tests/OrreryTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSFileManager.h"

namespace {

using OrreryDataSenderIndexTest = OrreryTest;

constexpr const char* kIndexFile = "OrrerySenderIndex.info";
constexpr const char* kKey = "ReportData_1";

Ref<OrreryDataSenderBlockInfo> storeBlock(const std::string& text) {
    return NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithData(NSData::dataWithString(text));
}

std::vector<std::string> identifiersOf(const std::vector<Ref<OrreryDataSenderBlockInfo>>& blocks) {
    std::vector<std::string> identifiers;
    for (const auto& block : blocks) identifiers.push_back(block->identifier());
    return identifiers;
}

bool fileExists(const std::string& path) { return NSFileManager::defaultManager()->fileExistsAtPath(path); }

TEST_F(OrreryDataSenderIndexTest, ABlockLivesInAFileNamedByItsIdentifier) {
    auto block = storeBlock("trigger block");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->identifier().size(), 36u);
    EXPECT_EQ(block->filePath(), OrreryUtil::filePathDirectory() + "/" + block->identifier());
    EXPECT_EQ(block->size(), 13u);
    EXPECT_EQ(block->data()->toString(), "trigger block");
    block->removeFile();
    EXPECT_FALSE(block->data().has_value());
}

TEST_F(OrreryDataSenderIndexTest, ABlockFileCarriesAChecksumItsKeyAndItsItems) {
    auto block = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems(
        {NSData::dataWithString("one"), NSData::dataWithString("second")}, "K1");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->size(), 9u);
    // After the magic and the CRC-32 of the rest: key, item count, items.
    const std::string rest = std::string("\x00\x02K1\x00\x00\x00\x02", 8) + std::string("\x00\x00\x00\x03one", 7) +
                             std::string("\x00\x00\x00\x06second", 10);
    const uint32_t crc = static_cast<uint32_t>(OrreryUtil::dataChecksum(NSData::dataWithString(rest)));
    std::string expected = "OBK1";
    for (int shift : {24, 16, 8, 0}) expected.push_back(static_cast<char>((crc >> shift) & 0xFF));
    expected += rest;
    EXPECT_EQ(NSData::dataWithContentsOfFile(block->filePath())->toString(), expected);
    ASSERT_TRUE(block->items());
    EXPECT_EQ(block->items()->at(1).toString(), "second");
    EXPECT_EQ(block->data()->toString(), "onesecond");
}

TEST_F(OrreryDataSenderIndexTest, ADamagedBlockGivesNothingAndSaysSo) {
    auto flipped = storeBlock("trigger block");
    auto truncated = storeBlock("trigger block");
    std::string bytes = NSData::dataWithContentsOfFile(flipped->filePath())->toString();
    bytes[bytes.size() - 2] ^= 0x01;
    ASSERT_TRUE(NSData::dataWithString(bytes).writeToFile(flipped->filePath(), true));
    ASSERT_TRUE(NSData::dataWithString(bytes.substr(0, bytes.size() - 3)).writeToFile(truncated->filePath(), true));
    expectLogLine("is damaged; it is dropped, not sent");
    EXPECT_FALSE(flipped->items());
    EXPECT_FALSE(truncated->data());
}

TEST_F(OrreryDataSenderIndexTest, BlockFilesALostIndexNamedNoMoreAreRecovered) {
    auto first = storeBlock("first");
    auto second = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems({NSData::dataWithString("second")}, kKey);
    auto firstKeyed = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems({NSData::dataWithString("first")}, kKey);
    auto otherKey = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems({NSData::dataWithString("x")}, "other");
    auto damaged = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems({NSData::dataWithString("y")}, kKey);
    ASSERT_TRUE(NSData::dataWithString("not a block").writeToFile(damaged->filePath(), true));
    // The index knows only the keyless first block; its file is gone.
    {
        auto index = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
        index->addBlockInfo(first, kKey);
        index->waitForPendingChanges();
    }
    expectLogLine("is another key's; it is deleted");
    expectLogLine("is damaged; it is deleted");
    auto index = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    EXPECT_EQ(index->recoverBlockFilesForDataKey(kKey), 2u);
    auto blocks = index->notSentBlocksForDataKey(kKey);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0]->identifier(), first->identifier());
    std::set<std::string> recovered = {blocks[1]->identifier(), blocks[2]->identifier()};
    EXPECT_EQ(recovered, (std::set<std::string>{second->identifier(), firstKeyed->identifier()}));
    EXPECT_EQ(blocks[1]->size(), blocks[1]->identifier() == second->identifier() ? 6u : 5u);
    EXPECT_FALSE(fileExists(otherKey->filePath()));
    EXPECT_FALSE(fileExists(damaged->filePath()));
    // Recovered once: the index names them now, across a restart too.
    EXPECT_EQ(index->recoverBlockFilesForDataKey(kKey), 0u);
    index->waitForPendingChanges();
    EXPECT_EQ(OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile)->notSentBlocksForDataKey(kKey).size(), 3u);
}

TEST_F(OrreryDataSenderIndexTest, BlocksKeepTheirOrderAcrossARestart) {
    std::vector<std::string> stored;
    {
        auto index = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
        EXPECT_TRUE(index->notSentBlocksForDataKey(kKey).empty());
        for (int i = 0; i < 3; ++i) {
            auto block = storeBlock("block " + std::to_string(i));
            block->setGroupIdentifier("group-" + std::to_string(i % 2));
            stored.push_back(block->identifier());
            index->addBlockInfo(block, kKey);
        }
        // A batch: a block of its own per item, added in one change.
        auto batch = OrreryDataSenderBlockInfo::blocksWithItems(
            {NSData::dataWithString("batch a"), NSData::dataWithString("batch b")}, kKey);
        ASSERT_EQ(batch.size(), 2u);
        for (const auto& block : batch) stored.push_back(block->identifier());
        index->addBlockInfos(batch, kKey);
        index->setSentReportSuccessfully(true);
        EXPECT_EQ(identifiersOf(index->notSentBlocksForDataKey(kKey)), stored);
        index->waitForPendingChanges();
    }

    auto restarted = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    auto blocks = restarted->notSentBlocksForDataKey(kKey);
    ASSERT_EQ(identifiersOf(blocks), stored);
    EXPECT_EQ(blocks[1]->groupIdentifier(), "group-1");
    EXPECT_EQ(blocks[2]->data()->toString(), "block 2");
    EXPECT_EQ(blocks[2]->size(), 7u);
    ASSERT_TRUE(blocks[4]->items());
    EXPECT_EQ(blocks[4]->items()->size(), 1u);
    EXPECT_EQ(blocks[4]->data()->toString(), "batch b");
    EXPECT_TRUE(restarted->sentReportSuccessfully());
    EXPECT_TRUE(restarted->notSentBlocksForDataKey("other").empty());
}

TEST_F(OrreryDataSenderIndexTest, ABatchThatCannotBeStoredWhollyLeavesNoBlockFile) {
    platform::testing::FileSystemConditions::setWritesFail(OrreryUtil::filePathDirectory(), true);
    EXPECT_TRUE(OrreryDataSenderBlockInfo::blocksWithItems({NSData::dataWithString("a"), NSData::dataWithString("b")}, kKey)
                    .empty());
    platform::testing::FileSystemConditions::setWritesFail(OrreryUtil::filePathDirectory(), false);
    for (const auto& name : NSFileManager::defaultManager()->contentsOfDirectoryAtPath(OrreryUtil::filePathDirectory()))
        EXPECT_FALSE(OrreryDataSenderBlockInfo::isBlockFileName(name)) << name;
}

size_t blockFileCount() {
    size_t count = 0;
    for (const auto& name : NSFileManager::defaultManager()->contentsOfDirectoryAtPath(OrreryUtil::filePathDirectory()))
        count += OrreryDataSenderBlockInfo::isBlockFileName(name) ? 1 : 0;
    return count;
}

TEST_F(OrreryDataSenderIndexTest, ABatchIsStoredAFileABlockAndEachGoesWithItsBlock) {
    auto batch = OrreryDataSenderBlockInfo::blocksWithItems(
        {NSData::dataWithString("a"), NSData::dataWithString("bb"), NSData::dataWithString("ccc")}, kKey);
    ASSERT_EQ(batch.size(), 3u);
    EXPECT_EQ(blockFileCount(), 3u);
    EXPECT_EQ(batch[1]->data()->toString(), "bb");
    batch[0]->setGroupIdentifier("G1");
    batch[1]->setGroupIdentifier("G1");
    batch[2]->setGroupIdentifier("G2");
    auto index = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    index->addBlockInfos(batch, kKey);
    index->removeBlockInfoWithIdentifier("G1", kKey);
    index->waitForPendingChanges();
    EXPECT_EQ(blockFileCount(), 1u);
    EXPECT_TRUE(fileExists(batch[2]->filePath()));
    // A lost index finds only what was left.
    ASSERT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(index->indexFilePath()));
    auto restarted = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    EXPECT_EQ(restarted->recoverBlockFilesForDataKey(kKey), 1u);
    EXPECT_EQ(restarted->notSentBlocksForDataKey(kKey)[0]->data()->toString(), "ccc");
}

TEST_F(OrreryDataSenderIndexTest, ASharedFileIsSplitOnceHoweverOftenASplitIsCutShort) {
    // As the version before stored a hand-over: one file, three items.
    auto shared = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems(
        {NSData::dataWithString("a"), NSData::dataWithString("bb"), NSData::dataWithString("ccc")}, kKey);
    ASSERT_TRUE(shared);
    const std::string identifier = shared->identifier();

    // Items 0 and 2 (item 1 was answered) move to files of their own.
    auto moved = OrreryDataSenderBlockInfo::separatedFromSharedFile(identifier, {0, 2}, kKey);
    ASSERT_TRUE(moved);
    ASSERT_EQ(moved->size(), 2u);
    ASSERT_TRUE((*moved)[0] && (*moved)[1]);
    EXPECT_EQ((*moved)[0]->identifier(), OrreryDataSenderBlockInfo::separatedFileName(identifier, 0));
    EXPECT_EQ((*moved)[1]->data()->toString(), "ccc");
    EXPECT_FALSE(fileExists(shared->filePath()));
    EXPECT_EQ(blockFileCount(), 2u);

    // Its shared file gone, a split done again finds the same files.
    auto again = OrreryDataSenderBlockInfo::separatedFromSharedFile(identifier, {0, 1, 2}, kKey);
    ASSERT_TRUE(again);
    EXPECT_EQ((*again)[0]->identifier(), (*moved)[0]->identifier());
    EXPECT_EQ((*again)[1], nullptr);
    EXPECT_EQ((*again)[2]->data()->toString(), "ccc");
    EXPECT_EQ(blockFileCount(), 2u);
}

TEST_F(OrreryDataSenderIndexTest, ASharedFileALostIndexNeverNamedIsRecoveredAFileABlock) {
    auto shared = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems(
        {NSData::dataWithString("a"), NSData::dataWithString("bb")}, kKey);
    ASSERT_TRUE(shared);
    // A split a kill cut short left item 0's file beside the shared one.
    auto early = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems({NSData::dataWithString("a")}, kKey);
    ASSERT_TRUE(NSFileManager::defaultManager()->moveItemAtPath(
        early->filePath(),
        OrreryUtil::filePathDirectory() + "/" + OrreryDataSenderBlockInfo::separatedFileName(shared->identifier(), 0)));
    auto index = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    EXPECT_EQ(index->recoverBlockFilesForDataKey(kKey), 2u);
    auto blocks = index->notSentBlocksForDataKey(kKey);
    ASSERT_EQ(blocks.size(), 2u);
    std::set<std::string> texts = {blocks[0]->data()->toString(), blocks[1]->data()->toString()};
    EXPECT_EQ(texts, (std::set<std::string>{"a", "bb"}));
    EXPECT_FALSE(fileExists(shared->filePath()));
    EXPECT_EQ(blockFileCount(), 2u);
    EXPECT_EQ(index->recoverBlockFilesForDataKey(kKey), 0u);
}

TEST_F(OrreryDataSenderIndexTest, RemovalMatchesIdentifierOrGroupAndDeletesFiles) {
    auto index = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    auto a = storeBlock("a"), b = storeBlock("b"), c = storeBlock("c"), d = storeBlock("d");
    b->setGroupIdentifier("G");
    c->setGroupIdentifier("G");
    for (const auto& block : {a, b, c, d}) index->addBlockInfo(block, kKey);

    index->removeBlockInfoWithIdentifier("G", kKey);
    index->removeBlockInfoWithIdentifier(d->identifier(), kKey);
    index->removeBlockInfoWithIdentifier(a->identifier(), "another key");  // nothing there
    EXPECT_EQ(identifiersOf(index->notSentBlocksForDataKey(kKey)), std::vector<std::string>{a->identifier()});
    EXPECT_TRUE(fileExists(a->filePath()));
    for (const auto& block : {b, c, d}) EXPECT_FALSE(fileExists(block->filePath()));

    index->waitForPendingChanges();
    EXPECT_EQ(
        identifiersOf(OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile)->notSentBlocksForDataKey(kKey)),
        std::vector<std::string>{a->identifier()});
}

TEST_F(OrreryDataSenderIndexTest, SetupDropsOtherKeysWithTheirFiles) {
    auto index = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    auto old = storeBlock("old version");
    auto current = storeBlock("current");
    index->addBlockInfo(old, "ReportData_0");
    index->addBlockInfo(current, kKey);
    index->setupForCurrentDataKey(kKey);
    EXPECT_TRUE(index->notSentBlocksForDataKey("ReportData_0").empty());
    EXPECT_FALSE(fileExists(old->filePath()));
    EXPECT_EQ(index->notSentBlocksForDataKey(kKey).size(), 1u);
    EXPECT_TRUE(fileExists(current->filePath()));
}

TEST_F(OrreryDataSenderIndexTest, DiscardKeepsTheLast50BlocksAcrossARestart) {
    auto index = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    std::vector<Ref<OrreryDataSenderBlockInfo>> blocks;
    for (int i = 0; i < 53; ++i) {
        blocks.push_back(storeBlock("block " + std::to_string(i)));
        index->addBlockInfo(blocks.back(), kKey);
    }
    index->addBlockInfo(storeBlock("elsewhere"), "second key");

    EXPECT_TRUE(index->discardOutdatedBlocksForDataKey(kKey));
    std::vector<std::string> expected;
    for (size_t i = 3; i < blocks.size(); ++i) expected.push_back(blocks[i]->identifier());
    EXPECT_EQ(identifiersOf(index->notSentBlocksForDataKey(kKey)), expected);
    for (size_t i = 0; i < 3; ++i) EXPECT_FALSE(fileExists(blocks[i]->filePath())) << i;
    EXPECT_TRUE(fileExists(blocks[3]->filePath()));
    // Nothing more to drop; other keys are left alone.
    EXPECT_FALSE(index->discardOutdatedBlocksForDataKey(kKey));
    EXPECT_FALSE(index->discardOutdatedBlocksForDataKey("second key"));
    EXPECT_EQ(index->notSentBlocksForDataKey("second key").size(), 1u);

    index->waitForPendingChanges();
    auto restarted = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    EXPECT_EQ(identifiersOf(restarted->notSentBlocksForDataKey(kKey)), expected);
}

TEST_F(OrreryDataSenderIndexTest, ADamagedIndexFileStartsEmpty) {
    ASSERT_TRUE(
        NSData::dataWithString("garbage").writeToFile(OrreryUtil::filePathDirectory() + "/" + kIndexFile, true));
    auto index = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    EXPECT_TRUE(index->notSentBlocksForDataKey(kKey).empty());
    index->addBlockInfo(storeBlock("fresh"), kKey);
    index->waitForPendingChanges();
    EXPECT_EQ(OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile)->notSentBlocksForDataKey(kKey).size(),
              1u);
}

TEST_F(OrreryDataSenderIndexTest, AForgedIdentifierNeverReachesOutsideTheFolder) {
    // A file outside the client's folder that a forged index names.
    std::string victim = NSHomeDirectory() + "/Documents/keep.me";
    ASSERT_TRUE(NSData::dataWithString("precious").writeToFile(victim, true));
    auto index = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    auto honest = storeBlock("honest");
    index->addBlockInfo(honest, kKey);
    index->waitForPendingChanges();

    // Same length as the UUID, so the archive's layout stays valid.
    std::string forged = "../../Documents/keep.me";
    forged = std::string(36 - forged.size(), '/') + forged;
    ASSERT_EQ(forged.size(), 36u);
    std::string path = OrreryUtil::filePathDirectory() + "/" + kIndexFile;
    std::string bytes = NSData::dataWithContentsOfFile(path)->toString();
    size_t at = bytes.find(honest->identifier());
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 36, forged);
    ASSERT_TRUE(NSData::dataWithString(bytes).writeToFile(path, true));

    auto reloaded = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFile);
    EXPECT_TRUE(reloaded->notSentBlocksForDataKey(kKey).empty());
    reloaded->setupForCurrentDataKey("another key");
    reloaded->discardOutdatedBlocksForDataKey(kKey);
    EXPECT_TRUE(fileExists(victim));
}

}  // namespace
