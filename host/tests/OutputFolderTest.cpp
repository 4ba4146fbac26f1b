// The output folder's checks: what the program refuses, and that a run
// replaces only what an earlier run wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/OutputFolder.h"

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
    write("out/.host-output");
    write("out/timeline.txt");
    write("out/traffic/index.json");
    write("out/sandbox/Library/x.plist");
    write("out/snapshots/launch.png");
    write("out/README.mine", "keep");
    EXPECT_EQ(OutputFolder::prepare(root + "/out", ""), "");
    EXPECT_FALSE(fs::exists(root + "/out/timeline.txt"));
    EXPECT_FALSE(fs::exists(root + "/out/traffic"));
    EXPECT_FALSE(fs::exists(root + "/out/sandbox"));
    EXPECT_FALSE(fs::exists(root + "/out/snapshots"));
    EXPECT_TRUE(fs::exists(root + "/out/README.mine"));

    // An output from before the marker: nothing but the program's entries.
    write("old/timeline.txt");
    write("old/relay/partner/000-request.http");
    EXPECT_EQ(OutputFolder::prepare(root + "/old", ""), "");
    EXPECT_FALSE(fs::exists(root + "/old/relay"));
}

TEST_F(OutputFolderTest, FoldersTheProgramDidNotWriteAreRefusedUntouched) {
    write("docs/sandbox/notes.txt", "mine");
    write("docs/timeline.txt");
    write("docs/thesis.tex");
    std::string refusal = OutputFolder::prepare(root + "/docs", "");
    EXPECT_NE(refusal.find("is not empty and holds no earlier output"), std::string::npos) << refusal;
    EXPECT_TRUE(fs::exists(root + "/docs/sandbox/notes.txt"));
    EXPECT_FALSE(fs::exists(root + "/docs/" + OutputFolder::kMarker));

    // The program's names alone are not enough without the timeline.
    write("only/sandbox/notes.txt");
    EXPECT_NE(OutputFolder::prepare(root + "/only", ""), "");
    write("file");
    EXPECT_NE(OutputFolder::prepare(root + "/file", "").find("is not a folder"), std::string::npos);
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
