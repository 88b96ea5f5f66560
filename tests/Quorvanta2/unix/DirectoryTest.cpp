#include "TempDirectory.h"
#include "aDirectory.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <map>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class DirectoryTest : public ::testing::Test {
protected:
    TempDirectory dir;
};

TEST_F(DirectoryTest, Exists) {
    const std::string file = dir.write("f", "");
    EXPECT_TRUE(aDirectory_Exists(dir.path.c_str()));
    EXPECT_FALSE(aDirectory_Exists(file.c_str()));
    EXPECT_FALSE(aDirectory_Exists((dir / "missing").c_str()));
    EXPECT_FALSE(aDirectory_Exists(nullptr));
}

TEST_F(DirectoryTest, EnsureCreatesEveryMissingParent) {
    const std::string deep = dir / "a/b/c";
    EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0755), aErrNone);
    EXPECT_TRUE(fs::is_directory(deep));
    struct stat status;
    ASSERT_EQ(stat((dir / "a").c_str(), &status), 0);
    EXPECT_EQ(
        status.st_mode & 0777, 0755u & ~[] {
            const mode_t mask = umask(0);
            umask(mask);
            return mask;
        }());

    EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0755), aErrNone); // already there
    EXPECT_EQ(aDirectory_Ensure((dir / "x//y/").c_str(), 0755), aErrNone);
    EXPECT_TRUE(fs::is_directory(dir / "x/y"));
}

TEST_F(DirectoryTest, EnsureRelativePath) {
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    const aErr err = aDirectory_Ensure("a/b/c", 0755);
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(err, aErrNone);
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
}

TEST_F(DirectoryTest, EnsureFailsOnOrdinaryFiles) {
    dir.write("file", "");
    EXPECT_EQ(aDirectory_Ensure((dir / "file/sub/deeper").c_str(), 0755), aErrPermission);
    EXPECT_EQ(aDirectory_Ensure((dir / "file").c_str(), 0755), aErrPermission);
    EXPECT_EQ(aDirectory_Ensure(nullptr, 0755), aErrParam);
}

TEST(BuildPath, JoinsWithSingleSeparators) {
    struct Case {
        const char* first;
        const char* second;
        const char* joined;
    } cases[] = {
        {"a/", "b", "a/b"}, {"a", "/b", "a/b"}, {"a", "b", "a/b"}, {"/", "etc", "/etc"}, {"a/", "/b", "a//b"},
    };
    for (const Case& c : cases) {
        char buffer[32];
        EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof(buffer), c.first, c.second), aErrNone);
        EXPECT_STREQ(buffer, c.joined);
    }
}

TEST(BuildPath, PieceCountAndAliasing) {
    char buffer[64] = "stale";
    EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof(buffer), "1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
                                   nullptr),
              aErrNone);
    EXPECT_STREQ(buffer, "1/2/3/4/5/6/7/8/9/10");
    EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof(buffer), "1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
                                   "11", nullptr),
              aErrParam);
    EXPECT_STREQ(buffer, "");

    char alias[16] = "a";
    EXPECT_EQ(aDirectory_JoinPath(alias, sizeof(alias), alias, "b"), aErrParam);
    EXPECT_EQ(aDirectory_JoinPath(alias, sizeof(alias), "b", alias + 1), aErrParam);
    EXPECT_EQ(aDirectory_JoinPath(nullptr, 16, "a", "b"), aErrParam);
}

TEST(BuildPath, Overruns) {
    char buffer[8];
    EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof(buffer), "abcdef", nullptr), aErrNone); // size - 2
    EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof(buffer), "abcdefg", nullptr), aErrOverrun);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof(buffer), "ab", "cd"), aErrNone);
    EXPECT_STREQ(buffer, "ab/cd");
    // The separator stays when the piece after it does not fit.
    EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof(buffer), "ab", "cdef"), aErrOverrun);
    EXPECT_STREQ(buffer, "ab/");
}

struct Listing {
    std::map<std::string, std::pair<uint32_t, bool>> entries;
    size_t calls = 0;
    size_t stopAfter = SIZE_MAX;
};

bool record(const aDirectoryListData* entry, void* ref) {
    Listing* listing = static_cast<Listing*>(ref);
    const std::string path = entry->path;
    listing->entries[path.substr(path.rfind('/') + 1)] = {entry->size, entry->isDirectory};
    return ++listing->calls < listing->stopAfter;
}

TEST_F(DirectoryTest, ListGivesEveryEntryWithDots) {
    dir.write("one", "12345");
    dir.write("two", "");
    Listing listing;
    EXPECT_EQ(aDirectory_List(dir.path.c_str(), record, &listing), aErrNone);
    EXPECT_EQ(listing.calls, 4u);
    EXPECT_EQ(listing.entries["one"], std::make_pair(5u, false));
    EXPECT_EQ(listing.entries["two"], std::make_pair(0u, false));
    EXPECT_TRUE(listing.entries["."].second);
    EXPECT_TRUE(listing.entries[".."].second);

    Listing stopped;
    stopped.stopAfter = 1;
    EXPECT_EQ(aDirectory_List(dir.path.c_str(), record, &stopped), aErrNone);
    EXPECT_EQ(stopped.calls, 1u);
    EXPECT_EQ(aDirectory_List((dir / "missing").c_str(), record, &stopped), aErrNotFound);
}

TEST_F(DirectoryTest, ListSkipsEntriesThatCannotBeQueried) {
    fs::create_directory(dir / "sub");
    fs::create_symlink(dir / "nowhere", dir / "broken");
    Listing listing;
    EXPECT_EQ(aDirectory_List(dir.path.c_str(), record, &listing), aErrNone);
    EXPECT_EQ(listing.calls, 3u);
    EXPECT_TRUE(listing.entries["sub"].second);
    EXPECT_EQ(listing.entries.count("broken"), 0u);
}

TEST_F(DirectoryTest, DeleteAndDeleteTree) {
    const std::string tree = dir / "tree";
    fs::create_directories(tree + "/a/b");
    dir.write("tree/a/b/leaf", "x");
    dir.write("tree/top", "y");
    EXPECT_EQ(aDirectory_Delete(tree.c_str()), aErrUnknown); // not empty
    EXPECT_EQ(aDirectory_DeleteTree(tree.c_str()), aErrNone);
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_EQ(aDirectory_DeleteTree(tree.c_str()), aErrNotFound);

    fs::create_directory(dir / "empty");
    EXPECT_EQ(aDirectory_Delete((dir / "empty").c_str()), aErrNone);
    EXPECT_EQ(aDirectory_Delete((dir / "empty").c_str()), aErrUnknown);
}

TEST_F(DirectoryTest, DeleteTreeRemovesLinksWithoutFollowingThem) {
    fs::create_directory(dir / "keep");
    dir.write("keep/precious", "data");
    fs::create_directories(dir / "tree");
    fs::create_directory_symlink(dir / "keep", dir / "tree/link");
    EXPECT_EQ(aDirectory_DeleteTree((dir / "tree").c_str()), aErrNone);
    EXPECT_FALSE(fs::exists(dir / "tree"));
    EXPECT_EQ(TempDirectory::read(dir / "keep/precious"), "data");
}

TEST(DirectoryInfo, CurrentAndExecutablePaths) {
    char expected[PATH_MAX];
    ASSERT_NE(getcwd(expected, sizeof(expected)), nullptr);
    char buffer[PATH_MAX];
    EXPECT_EQ(aDirectory_CWD(buffer, sizeof(buffer)), aErrNone);
    EXPECT_STREQ(buffer, expected);
    EXPECT_EQ(aDirectory_CWD(buffer, 1), aErrParam);
    EXPECT_EQ(aDirectory_CWD(nullptr, 10), aErrParam);

    const std::string executable = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(aDirectory_ExecutableFilePath(buffer, sizeof(buffer)), aErrNone);
    EXPECT_EQ(buffer, executable);
    char small[5];
    EXPECT_EQ(aDirectory_ExecutableFilePath(small, sizeof(small)), aErrNone);
    EXPECT_EQ(std::string(small), executable.substr(0, 4));
}

TEST(DirectoryInfo, HomeFromThePasswordDatabase) {
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    const std::string home = entry->pw_dir;
    char buffer[PATH_MAX];
    EXPECT_EQ(aDirectory_GetHomeDirectory(buffer, sizeof(buffer)), aErrNone);
    EXPECT_EQ(buffer, home);
    char small[3];
    EXPECT_EQ(aDirectory_GetHomeDirectory(small, sizeof(small)), aErrNone);
    EXPECT_EQ(std::string(small), home.substr(0, 2));
    EXPECT_EQ(aDirectory_GetHomeDirectory(nullptr, 10), aErrParam);
}

// Runs the probe as a user without a password entry, in a user namespace.
std::string probeHome(const std::string& environment) {
    const std::string command =
        "unshare --user --map-user=54321 env " + environment + " " HOME_PROBE " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "";
    char line[512] = {};
    const bool got = fgets(line, sizeof(line), pipe) != nullptr;
    pclose(pipe);
    return got ? line : "";
}

TEST(DirectoryInfo, HomeWithoutPasswordEntry) {
    const std::string fromEnvironment = probeHome("HOME=/srv/elsewhere");
    if (fromEnvironment.rfind("nopasswd", 0) != 0)
        GTEST_SKIP() << "no user namespace without a password entry here: " << fromEnvironment;
    EXPECT_EQ(fromEnvironment, "nopasswd aErrNone [/srv/elsewhere]\n");
    EXPECT_EQ(probeHome("-u HOME"), "nopasswd aErrNotFound []\n");
}

} // namespace
