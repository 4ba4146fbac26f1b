// The output folder's checks: what the program refuses, and that a run
// replaces only what an earlier run wrote; and the lock that keeps a second
// run off a folder in use.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/OutputFolder.h"
#include "host/RunLock.h"

namespace fs = std::filesystem;

namespace {

class OutputFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "output-folder-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }
    std::string readBack(const std::string& relative) {
        std::ifstream in(root + "/" + relative);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void write(const std::string& relative, const std::string& text = "x") {
        fs::create_directories(fs::path(root + "/" + relative).parent_path());
        std::ofstream(root + "/" + relative) << text;
    }

    std::string root;
};

}  // namespace

TEST_F(OutputFolderTest, NewAndEmptyFoldersAreMadeReadyAndMarked) {
    EXPECT_EQ(OutputFolder::prepare(root + "/a/b", ""), "");
    EXPECT_TRUE(fs::is_regular_file(root + "/a/b/" + OutputFolder::kMarker));
    fs::create_directories(root + "/empty");
    EXPECT_EQ(OutputFolder::prepare(root + "/empty/", ""), "");
}

TEST_F(OutputFolderTest, AnEarlierOutputLosesOnlyWhatTheProgramWrote) {
    // A run of one scenario's entries, a run of them all's, and the user's.
    write("out/.host-output");
    write("out/timeline.txt");
    write("out/client-log.txt");
    write("out/traffic/index.json");
    write("out/sandbox/Library/x.plist");
    write("out/snapshots/launch.png");
    write("out/summary.txt");
    write("out/halcyon/.host-output");
    write("out/halcyon/snapshots/halcyon-video.png");
    write("out/startup/timeline.txt");
    write("out/relay/settings.json");
    write("out/README.mine", "keep");
    write("out/notes/startup.txt", "keep");
    std::vector<std::string> removed;
    EXPECT_EQ(OutputFolder::prepare(root + "/out", "", &removed), "");
    for (const char* gone : {"timeline.txt", "client-log.txt", "traffic", "sandbox", "snapshots", "summary.txt",
                             "halcyon", "startup"})
        EXPECT_FALSE(fs::exists(root + "/out/" + gone)) << gone;
    EXPECT_EQ(readBack("out/README.mine"), "keep");
    EXPECT_EQ(readBack("out/notes/startup.txt"), "keep");

    // Each kind of run names what it removed and does not write again; an
    // earlier version's relay/ neither writes.
    EXPECT_EQ(OutputFolder::removalNote("out", removed, OutputFolder::Layout::OneScenario),
              "removed from the earlier output in out, which a run of one scenario does not write: summary.txt, "
              "relay/, startup/, halcyon/");
    EXPECT_EQ(OutputFolder::removalNote("out", removed, OutputFolder::Layout::EveryScenario),
              "removed from the earlier output in out, which a run of every scenario does not write: timeline.txt, "
              "client-log.txt, traffic/, sandbox/, snapshots/, relay/");
    EXPECT_EQ(OutputFolder::removalNote("out", {"timeline.txt", "traffic"}, OutputFolder::Layout::OneScenario), "");
    EXPECT_EQ(OutputFolder::removalNote("out", {"summary.txt", "tamarind"}, OutputFolder::Layout::EveryScenario), "");
}

TEST_F(OutputFolderTest, FoldersTheProgramDidNotWriteAreRefusedUntouched) {
    write("docs/sandbox/notes.txt", "mine");
    write("docs/timeline.txt");
    write("docs/thesis.tex");
    std::string refusal = OutputFolder::prepare(root + "/docs", "");
    EXPECT_NE(refusal.find("is not empty and holds no earlier output"), std::string::npos) << refusal;
    EXPECT_TRUE(fs::exists(root + "/docs/sandbox/notes.txt"));
    EXPECT_FALSE(fs::exists(root + "/docs/" + OutputFolder::kMarker));

    // Names the program writes, a timeline among them, do not make an
    // earlier output: only the marker does.
    write("photos/timeline.txt");
    write("photos/snapshots/my-photo.png", "photo");
    write("photos/relay/contacts.txt", "contacts");
    EXPECT_NE(OutputFolder::prepare(root + "/photos", ""), "");
    EXPECT_EQ(readBack("photos/snapshots/my-photo.png"), "photo");
    EXPECT_EQ(readBack("photos/relay/contacts.txt"), "contacts");
    EXPECT_TRUE(fs::exists(root + "/photos/timeline.txt"));
    write("file");
    EXPECT_NE(OutputFolder::prepare(root + "/file", "").find("is not a folder"), std::string::npos);
    // A run's lock file alone is no content.
    write(std::string("locked/") + RunLock::kFileName);
    EXPECT_EQ(OutputFolder::prepare(root + "/locked", ""), "");
}

TEST_F(OutputFolderTest, AHomeInsideTheOutputOrTheReverseIsRefused) {
    EXPECT_NE(OutputFolder::prepare(root + "/out", root + "/out/sandbox").find("lies inside the output folder"),
              std::string::npos);
    EXPECT_NE(OutputFolder::prepare(root + "/out", root + "/out/../out/").find("lies inside the output folder"),
              std::string::npos);
    EXPECT_NE(OutputFolder::prepare(root + "/home/out", root + "/home").find("lies inside the home folder"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(root + "/out"));
    // A sibling whose name starts alike is elsewhere.
    EXPECT_EQ(OutputFolder::prepare(root + "/out", root + "/out-home"), "");
}

TEST_F(OutputFolderTest, ALockedFolderRefusesASecondRunAtOnceUntilReleasedOrItsProcessDies) {
    std::string refusal;
    auto held = RunLock::acquire(root + "/out", "the output folder out", refusal);
    ASSERT_TRUE(held) << refusal;
    EXPECT_FALSE(RunLock::acquire(root + "/out", "the output folder out", refusal));
    EXPECT_EQ(refusal, "the output folder out is in use by another run of the host program (process " +
                           std::to_string(::getpid()) + "); wait for it to end or give another folder");
    held->release();
    EXPECT_FALSE(fs::exists(root + "/out/" + RunLock::kFileName));
    EXPECT_TRUE(RunLock::acquire(root + "/out", "the output folder out", refusal)) << refusal;

    // A process that dies holding the lock leaves its file, not its lock.
    pid_t child = fork();
    if (child == 0) {
        std::string ignored;
        auto lock = RunLock::acquire(root + "/dead", "x", ignored);
        _exit(lock ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(fs::exists(root + "/dead/" + RunLock::kFileName));
    EXPECT_TRUE(RunLock::acquire(root + "/dead", "the home folder dead", refusal)) << refusal;
}
