#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TempFolder.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/LastingConditions.h"
#include "platform/foundation/LogCapture.h"
#include "platform/foundation/NSFileHandle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/testing/UnreadableFiles.h"

using platform::testing::LogCapture;

namespace {

std::string contents(const std::string& path) {
    std::optional<NSData> data = NSFileManager::defaultManager()->contentsAtPath(path);
    return data ? data->toString() : "<absent>";
}

void write(const std::string& path, const std::string& text) {
    ASSERT_TRUE(NSFileManager::defaultManager()->createFileAtPath(path, NSData::dataWithString(text)));
}

}  // namespace

class FileManagerTest : public ::testing::Test {
protected:
    Ref<NSFileManager> fm = NSFileManager::defaultManager();
    TempFolder folder;
};

TEST_F(FileManagerTest, StandardFoldersLieUnderTheHomeFolder) {
    ::setenv("PLATFORM_HOME", folder.path().c_str(), 1);
    const std::string& home = folder.path();
    EXPECT_EQ(NSHomeDirectory(), home);
    EXPECT_EQ(NSTemporaryDirectory(), home + "/tmp/");
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true),
              std::vector<std::string>{home + "/Documents"});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true),
              std::vector<std::string>{home + "/Library/Caches"});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSLibraryDirectory, NSUserDomainMask, true),
              std::vector<std::string>{home + "/Library"});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSApplicationSupportDirectory, NSUserDomainMask, false),
              std::vector<std::string>{"~/Library/Application Support"});
    const auto urls = fm->URLsForDirectory(NSDocumentDirectory, NSUserDomainMask);
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_TRUE(urls[0]->isFileURL());
    EXPECT_EQ(urls[0]->path(), home + "/Documents");
    ::unsetenv("PLATFORM_HOME");
}

TEST_F(FileManagerTest, MoveNeverOverwritesAndFailsWith516) {
    write(folder / "a", "new");
    write(folder / "b", "old");
    Ref<NSError> error;
    EXPECT_FALSE(fm->moveItemAtPath(folder / "a", folder / "b", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), 516);
    EXPECT_EQ(contents(folder / "a"), "new");
    EXPECT_EQ(contents(folder / "b"), "old");

    // Folders too, even onto an empty folder (which rename(2) would replace).
    ASSERT_TRUE(fm->createDirectoryAtPath(folder / "d1", false));
    ASSERT_TRUE(fm->createDirectoryAtPath(folder / "d2", false));
    error = nullptr;
    EXPECT_FALSE(fm->moveItemAtPath(folder / "d1", folder / "d2", &error));
    EXPECT_EQ(error->code(), 516);

    EXPECT_TRUE(fm->moveItemAtPath(folder / "a", folder / "c", &error));
    EXPECT_EQ(contents(folder / "c"), "new");
    EXPECT_FALSE(fm->fileExistsAtPath(folder / "a"));

    EXPECT_FALSE(fm->moveItemAtPath(folder / "missing", folder / "e", &error));
    EXPECT_EQ(error->code(), 4);
}

TEST_F(FileManagerTest, CopyNeverOverwritesAndLeavesNoPartialFile) {
    ASSERT_TRUE(fm->createDirectoryAtPath(folder / "tree/sub", true));
    write(folder / "tree/one", "1");
    write(folder / "tree/sub/two", std::string(200000, 'x'));
    Ref<NSError> error;
    ASSERT_TRUE(fm->copyItemAtPath(folder / "tree", folder / "copy", &error));
    EXPECT_EQ(contents(folder / "copy/one"), "1");
    EXPECT_EQ(contents(folder / "copy/sub/two").size(), 200000u);
    EXPECT_EQ(fm->contentsOfDirectoryAtPath(folder / "copy"), (std::vector<std::string>{"one", "sub"}));
    // The modification date travels with the copy.
    EXPECT_TRUE(fm->attributesOfItemAtPath(folder / "copy/one")[NSFileModificationDate].isEqual(
        fm->attributesOfItemAtPath(folder / "tree/one")[NSFileModificationDate]));

    write(folder / "other", "keep");
    EXPECT_FALSE(fm->copyItemAtPath(folder / "tree/one", folder / "other", &error));
    EXPECT_EQ(error->code(), 516);
    EXPECT_EQ(contents(folder / "other"), "keep");
    EXPECT_FALSE(fm->copyItemAtPath(folder / "missing", folder / "x", &error));
    EXPECT_EQ(error->code(), 260);
    // No temporary file is left behind.
    EXPECT_EQ(fm->contentsOfDirectoryAtPath(folder.path()), (std::vector<std::string>{"copy", "other", "tree"}));
}

TEST_F(FileManagerTest, FileSystemAttributesGiveFreeSpaceOr260) {
    Ref<NSError> error;
    const Value attributes = fm->attributesOfFileSystemForPath(folder.path(), &error);
    EXPECT_FALSE(error);
    EXPECT_GT(attributes[NSFileSystemFreeSize].unsignedLongLongValue(), 0u);
    EXPECT_GE(attributes[NSFileSystemSize].unsignedLongLongValue(), attributes[NSFileSystemFreeSize].unsignedLongLongValue());
    EXPECT_TRUE(fm->attributesOfFileSystemForPath(folder / "missing", &error).isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), 260);
}

TEST_F(FileManagerTest, ItemAttributesAndModificationDates) {
    write(folder / "f", "12345");
    Value attributes = fm->attributesOfItemAtPath(folder / "f");
    EXPECT_EQ(attributes[NSFileSize].integerValue(), 5);
    EXPECT_EQ(*attributes[NSFileType].string(), NSFileTypeRegular);
    EXPECT_EQ(*fm->attributesOfItemAtPath(folder.path())[NSFileType].string(), NSFileTypeDirectory);

    const NSDate old = NSDate::dateWithTimeIntervalSince1970(1000000000.25);
    ASSERT_TRUE(fm->setAttributes(Value::dictionary({{NSFileModificationDate, Value(old)}}), folder / "f"));
    const Value changed = fm->attributesOfItemAtPath(folder / "f");
    const NSDate* date = changed[NSFileModificationDate].date();
    ASSERT_NE(date, nullptr);
    EXPECT_NEAR(date->timeIntervalSince1970(), 1000000000.25, 1e-6);

    Ref<NSError> error;
    EXPECT_TRUE(fm->attributesOfItemAtPath(folder / "missing", &error).isNull());
    EXPECT_EQ(error->code(), 260);
    EXPECT_FALSE(fm->setAttributes(Value::dictionary({{NSFileModificationDate, Value(old)}}), folder / "missing", &error));
    EXPECT_EQ(error->code(), 4);
}

TEST_F(FileManagerTest, CreationDatesNeverChangeWithWritesOrDates) {
    const double before = NSDate::date().timeIntervalSince1970();
    ASSERT_TRUE(fm->createDirectoryAtPath(folder / "Documents", false));
    const Value attributes = fm->attributesOfItemAtPath(folder / "Documents");
    const NSDate* created = attributes[NSFileCreationDate].date();
    ASSERT_NE(created, nullptr);
    const double first = created->timeIntervalSince1970();
    EXPECT_NEAR(first, before, 5);

    // Writing into the folder and moving its modification date leave it alone.
    write(folder / "Documents/f", "x");
    ASSERT_TRUE(fm->setAttributes(
        Value::dictionary({{NSFileModificationDate, Value(NSDate::dateWithTimeIntervalSince1970(first + 3600))}}),
        folder / "Documents"));
    Value again = fm->attributesOfItemAtPath(folder / "Documents");
    EXPECT_EQ(again[NSFileCreationDate].date()->timeIntervalSince1970(), first);
    EXPECT_EQ(again[NSFileModificationDate].date()->timeIntervalSince1970(), first + 3600);
    // The enumerator reports it too.
    auto walk = fm->enumeratorAtPath(folder.path());
    ASSERT_EQ(walk->nextObject(), "Documents");
    const Value walked = walk->fileAttributes();
    EXPECT_EQ(walked[NSFileCreationDate].date()->timeIntervalSince1970(), first);
}

TEST_F(FileManagerTest, SimulatedFreeSpaceAndFullDiskPerFolder) {
    using platform::testing::FileSystemConditions;
    LogCapture capture(false);
    ASSERT_TRUE(fm->createDirectoryAtPath(folder / "videos", false));
    write(folder / "videos/old", "kept");
    write(folder / "elsewhere", "e");
    const auto realFree = fm->attributesOfFileSystemForPath(folder.path())[NSFileSystemFreeSize].unsignedLongLongValue();

    FileSystemConditions::setFreeSpace(folder / "videos", 1024);
    EXPECT_EQ(fm->attributesOfFileSystemForPath(folder / "videos/old")[NSFileSystemFreeSize].unsignedLongLongValue(), 1024u);
    EXPECT_NE(fm->attributesOfFileSystemForPath(folder.path())[NSFileSystemFreeSize].unsignedLongLongValue(), 1024u);

    FileSystemConditions::setWritesFail(folder / "videos", true);
    EXPECT_FALSE(NSData::dataWithString("new").writeToFile(folder / "videos/old", true));
    EXPECT_FALSE(NSData::dataWithString("new").writeToFile(folder / "videos/other", false));
    EXPECT_FALSE(fm->createFileAtPath(folder / "videos/created", NSData::dataWithString("c")));
    EXPECT_EQ(contents(folder / "videos/old"), "kept");
    EXPECT_EQ(fm->contentsOfDirectoryAtPath(folder / "videos"), (std::vector<std::string>{"old"}));
    auto handle = NSFileHandle::fileHandleForWritingAtPath(folder / "videos/old");
    ASSERT_TRUE(handle);
    EXPECT_FALSE(handle->writeData(NSData::dataWithString("chunk")));
    Ref<NSError> error;
    EXPECT_FALSE(fm->createDirectoryAtPath(folder / "videos/sub", false, Value(), &error));
    EXPECT_EQ(error->code(), platform::NSFileWriteOutOfSpaceError);
    EXPECT_FALSE(fm->copyItemAtPath(folder / "elsewhere", folder / "videos/copy", &error));
    EXPECT_EQ(error->code(), platform::NSFileWriteOutOfSpaceError);
    EXPECT_TRUE(fm->moveItemAtPath(folder / "elsewhere", folder / "videos/moved"));  // a rename needs no space
    EXPECT_TRUE(NSData::dataWithString("fine").writeToFile(folder / "outside", true));
    EXPECT_TRUE(capture.contains("cannot write " + folder / "videos/old"));
    // A full disk lasts: writes into the folder tried again and again, at
    // one path or new ones, are logged when they begin to fail and when one
    // succeeds again, not at every attempt.
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(NSData::dataWithString("new").writeToFile(folder / "videos/old", true));
        EXPECT_FALSE(NSData::dataWithString("new").writeToFile(folder / ("videos/new " + std::to_string(i)), true));
    }
    EXPECT_EQ(capture.count("cannot write " + folder / "videos/old"), 1u);
    EXPECT_EQ(capture.count("cannot write " + folder / "videos/"), 1u);

    FileSystemConditions::setWritesFail(folder / "videos", false);
    FileSystemConditions::setFreeSpace(folder / "videos", std::nullopt);
    EXPECT_TRUE(NSData::dataWithString("new").writeToFile(folder / "videos/old", true));
    EXPECT_EQ(contents(folder / "videos/old"), "new");
    EXPECT_EQ(capture.count(folder / "videos" + " can be written again"), 1u);
    EXPECT_NEAR(static_cast<double>(fm->attributesOfFileSystemForPath(folder / "videos")[NSFileSystemFreeSize]
                                        .unsignedLongLongValue()),
                static_cast<double>(realFree), 1e9);
}

// One path that cannot be written among files of its folder that can: a
// folder standing where a whole write puts its file, a file that may not be
// written in place (chmod 000, with root's override given up), and a name
// too long for the whole write's temporary file. Each is logged when its
// failure begins and when it ends, whatever its folder's other files write
// meanwhile: not two lines at every round.
TEST_F(FileManagerTest, AWriteFailingAtOnePathAmongWritableOnesIsLoggedWhenItBeginsAndEnds) {
    ASSERT_TRUE(platform::testing::dropFileAccessOverride());
    LogCapture capture(false);
    ASSERT_TRUE(fm->createDirectoryAtPath(folder / "table", false));
    write(folder / "locked", "kept");
    ASSERT_TRUE(platform::testing::setUnreadable(folder / "locked", platform::testing::Unreadable::Chmod000, true));
    for (int round = 0; round < 50; ++round) {
        EXPECT_FALSE(NSData::dataWithString("t").writeToFile(folder / "table", true));
        EXPECT_FALSE(NSData::dataWithString("l").writeToFile(folder / "locked", false));
        EXPECT_FALSE(NSData::dataWithString("n").writeToFile(folder / std::string(250, 'n'), true));
        EXPECT_TRUE(NSData::dataWithString("s").writeToFile(folder / "sibling", true));
        EXPECT_TRUE(NSData::dataWithString("n").writeToFile(folder / ("new " + std::to_string(round)), false));
    }
    EXPECT_EQ(capture.count("cannot write " + folder / "table"), 1u);
    EXPECT_EQ(capture.count("cannot open " + folder / "locked"), 1u);
    EXPECT_EQ(capture.count("cannot create a temporary file in"), 1u);
    EXPECT_EQ(capture.lines().size(), 3u) << ::testing::PrintToString(capture.messages());

    ASSERT_TRUE(fm->removeItemAtPath(folder / "table"));
    ASSERT_TRUE(platform::testing::setUnreadable(folder / "locked", platform::testing::Unreadable::Chmod000, false));
    EXPECT_TRUE(NSData::dataWithString("t").writeToFile(folder / "table", true));
    EXPECT_TRUE(NSData::dataWithString("l").writeToFile(folder / "locked", false));
    EXPECT_EQ(capture.count(folder / "table can be written again"), 1u);
    EXPECT_EQ(capture.count(folder / "locked can be written again"), 1u);
    EXPECT_EQ(capture.lines().size(), 5u);
    EXPECT_EQ(platform::LastingConditions::heldInProcess(), 1u);  // the long name's
}

// Files that cannot be read are logged once each while they stay so, and
// the record of them is bounded: past 32, one line says more go unlogged.
TEST_F(FileManagerTest, UnreadableFilesAreLoggedOnceEachWithinABoundedRecord) {
    using platform::LastingConditions;
    LogCapture capture(false);
    for (int i = 0; i < 40; ++i) write(folder / ("file " + std::to_string(i)), "kept");
    platform::testing::FileSystemConditions::setReadsFail(folder.path(), EIO);
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 40; ++i) EXPECT_FALSE(NSData::readFile(folder / ("file " + std::to_string(i))).data);
    EXPECT_EQ(capture.count("cannot be read now"), 33u);
    EXPECT_EQ(capture.count("more files that cannot be read are not logged"), 1u);
    EXPECT_EQ(LastingConditions::heldInProcess(), 32u);

    platform::testing::FileSystemConditions::setReadsFail(folder.path(), std::nullopt);
    for (int i = 0; i < 40; ++i) EXPECT_TRUE(NSData::readFile(folder / ("file " + std::to_string(i))).data);
    EXPECT_EQ(capture.count("can be read again"), 32u);
    EXPECT_EQ(LastingConditions::heldInProcess(), 0u);
}

TEST_F(FileManagerTest, CreatingAndRemovingFoldersAndFiles) {
    Ref<NSError> error;
    EXPECT_FALSE(fm->createDirectoryAtPath(folder / "x/y", false, Value(), &error));
    EXPECT_EQ(error->code(), 4);
    EXPECT_TRUE(fm->createDirectoryAtPath(folder / "x/y", true));
    EXPECT_TRUE(fm->createDirectoryAtPath(folder / "x/y", true));  // existing: fine with intermediates
    EXPECT_FALSE(fm->createDirectoryAtPath(folder / "x/y", false, Value(), &error));
    EXPECT_EQ(error->code(), 516);
    bool isDirectory = false;
    EXPECT_TRUE(fm->fileExistsAtPath(folder / "x/y", &isDirectory));
    EXPECT_TRUE(isDirectory);

    write(folder / "x/y/f", "long contents");
    write(folder / "x/y/f", "short");  // truncates
    EXPECT_EQ(contents(folder / "x/y/f"), "short");
    EXPECT_TRUE(fm->fileExistsAtPath(folder / "x/y/f", &isDirectory));
    EXPECT_FALSE(isDirectory);

    EXPECT_TRUE(fm->removeItemAtPath(folder / "x", &error));
    EXPECT_FALSE(fm->fileExistsAtPath(folder / "x"));
    EXPECT_FALSE(fm->removeItemAtPath(folder / "x", &error));
    EXPECT_EQ(error->code(), 4);
    EXPECT_TRUE(fm->contentsOfDirectoryAtPath(folder / "x", &error).empty());
    EXPECT_EQ(error->code(), 260);
}

TEST_F(FileManagerTest, EnumeratorWalksDepthFirstInNameOrder) {
    fm->createDirectoryAtPath(folder / "b/inner", true);
    fm->createDirectoryAtPath(folder / "c", true);
    write(folder / "a", "");
    write(folder / "b/inner/z", "zz");
    write(folder / "b/y", "");
    write(folder / "c/skipped", "");
    auto walk = fm->enumeratorAtPath(folder.path());
    ASSERT_TRUE(walk);
    std::vector<std::string> seen;
    while (std::optional<std::string> path = walk->nextObject()) {
        seen.push_back(*path);
        if (*path == "c") walk->skipDescendants();
        if (*path == "b/inner/z") {
            EXPECT_EQ(walk->fileAttributes()[NSFileSize].integerValue(), 2);
        }
        if (*path == "b") {
            EXPECT_EQ(*walk->fileAttributes()[NSFileType].string(), NSFileTypeDirectory);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "b/inner", "b/inner/z", "b/y", "c"}));
    EXPECT_FALSE(fm->enumeratorAtPath(folder / "missing"));
}

TEST_F(FileManagerTest, FileHandleWritesAppendsAndReportsWriteErrors) {
    EXPECT_FALSE(NSFileHandle::fileHandleForWritingAtPath(folder / "absent"));
    EXPECT_FALSE(NSFileHandle::fileHandleForReadingAtPath(folder / "absent"));
    write(folder / "f", "abc");
    auto out = NSFileHandle::fileHandleForWritingAtPath(folder / "f");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->seekToEndOfFile(), 3u);
    EXPECT_TRUE(out->writeData(NSData::dataWithString("def")));
    out->synchronizeFile();
    out->closeFile();
    LogCapture capture(false);
    EXPECT_FALSE(out->writeData(NSData::dataWithString("late")));
    auto in = NSFileHandle::fileHandleForReadingAtPath(folder / "f");
    EXPECT_EQ(in->readDataToEndOfFile().toString(), "abcdef");

    // A full disk is answered with false, never raised.
    auto full = NSFileHandle::fileHandleForWritingAtPath("/dev/full");
    ASSERT_TRUE(full);
    EXPECT_FALSE(full->writeData(NSData::dataWithString("x")));
    EXPECT_TRUE(capture.contains("write to /dev/full failed"));
}
