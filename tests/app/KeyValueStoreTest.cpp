#include "KeyValueStore.h"
#include "Log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string _read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void _write_file(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> _names_in(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const std::regex
    TIME_TEXT("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}");

class KeyValueStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvstore-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        settings = dir / KeyValueStore::DEFAULT_FILENAME;
        log = tmpfile();
        Log::SetOutput(log);
        Log::package_bitmask = DEBUG_Attributes;
    }
    void TearDown() override {
        Log::SetOutput(nullptr);
        Log::package_bitmask = 0;
        fclose(log);
        fs::permissions(dir, fs::perms::owner_all);
        fs::remove_all(dir);
    }
    std::string logged() {
        fflush(log);
        rewind(log);
        std::string text;
        for (int c; (c = fgetc(log)) != EOF;)
            text += static_cast<char>(c);
        return text;
    }
    // What a store loaded from text writes back unchanged: its entries in key order.
    std::string roundTrip(const std::string& text) {
        _write_file(settings, text);
        KeyValueStore store(settings);
        EXPECT_FALSE(store.IsModified());
        store.Save((dir / "out").string());
        return _read_file(dir / "out");
    }
    fs::path dir;
    fs::path settings;
    FILE* log = nullptr;
};

TEST_F(KeyValueStoreTest, LoadParsesLines) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a=1\na=2\n", "a=2\n"},
        {"  key = some value  \r\n", "key=some value\n"},
        {"#a=1\n", ""},
        {"a=\n", "a=\n"},
        {"a\n", ""},
        {"b=x = y\n", "b=x = y\n"},
        {"no equals sign\n=1\n   = 2\n\n\t\n", ""},
        {"z=1\ny=2\nlast=no newline", "last=no newline\ny=2\nz=1\n"},
        // A line too long for the reader ends the reading; nothing after it counts.
        {"a=1\nb=" + std::string(3000, 'x') + "\nc=3\n", "a=1\n"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(roundTrip(text), expected) << "file: " << text.substr(0, 40);

    // Only a "#" in the first column makes a comment.
    _write_file(settings, " #a=1\n");
    EXPECT_EQ(KeyValueStore(settings)["#a"], "1");
}

TEST_F(KeyValueStoreTest, LoadKeepsEarlierEntriesAndClearsModified) {
    _write_file(settings, "a=file\n");
    KeyValueStore store;
    store.Add("a", "memory");
    store.Add("b", "memory");
    store.Load(settings);
    EXPECT_EQ(store["a"], "file");
    EXPECT_EQ(store["b"], "memory");
    EXPECT_EQ(store["c"], std::nullopt);
    EXPECT_FALSE(store.IsModified());
    EXPECT_EQ(store.GetPath(), settings.string());
}

TEST_F(KeyValueStoreTest, TypedGetters) {
    _write_file(settings,
                "build=1234.bird\nneg= -12x\nword=true\ntwo=2\nzero=0\nhexp=0x1F\nhex=1f\nbig=99999999999\n"
                "long=123456789A\ndbl=1.5abc\nempty=\n");
    KeyValueStore store(settings);
    EXPECT_EQ(store.GetInt("build", -1), 1234);
    EXPECT_EQ(store.GetInt("neg", -1), -12);
    EXPECT_EQ(store.GetInt("word", -1), 0);
    EXPECT_EQ(store.GetInt("big", -1), INT32_MAX);
    EXPECT_EQ(store.GetInt("empty", -1), -1);
    EXPECT_EQ(store.GetHex("hexp", 7), 31u);
    EXPECT_EQ(store.GetHex("hex", 7), 31u);
    EXPECT_EQ(store.GetHex("word", 7), 0u);
    EXPECT_EQ(store.GetHex("long", 7), 0x3456789Au);
    EXPECT_EQ(store.GetHex("empty", 7), 7u);
    EXPECT_FALSE(store.GetBOOL("word", true));
    EXPECT_TRUE(store.GetBOOL("two", false));
    EXPECT_FALSE(store.GetBOOL("zero", true));
    EXPECT_TRUE(store.GetBOOL("empty", true));
    EXPECT_DOUBLE_EQ(store.GetDouble("dbl", 9.0), 1.5);
    EXPECT_DOUBLE_EQ(store.GetDouble("word", 9.0), 0.0);
    EXPECT_DOUBLE_EQ(store.GetDouble("empty", 9.0), 9.0);
    EXPECT_EQ(store.GetString("empty", "default"), "");
    EXPECT_EQ(store.GetString("absent", "default"), "default");
    EXPECT_EQ(store.GetString("absent"), "");
    EXPECT_EQ(store["absent"], std::nullopt);
    EXPECT_FALSE(store.IsModified());
}

TEST_F(KeyValueStoreTest, TypedGettersAddAbsentKeysWithoutMarkingModified) {
    _write_file(settings, "a=1\n");
    KeyValueStore store(settings);
    EXPECT_EQ(store.GetInt("n", 5), 5);
    EXPECT_EQ(store.GetHex("h", 6), 6u);
    EXPECT_TRUE(store.GetBOOL("b", true));
    EXPECT_DOUBLE_EQ(store.GetDouble("d", 2.5), 2.5);
    EXPECT_EQ(store["n"], "");
    EXPECT_FALSE(store.IsModified());
    store.Save();
    EXPECT_EQ(_read_file(settings), "a=1\nb=\nd=\nh=\nn=\n");
}

TEST_F(KeyValueStoreTest, AddStoresTextAndMarksOnlyChanges) {
    KeyValueStore store;
    store.Add("new", "");
    EXPECT_EQ(store["new"], "");
    EXPECT_FALSE(store.IsModified()) << "an empty value under a new key changes nothing";

    struct Case {
        std::function<void(KeyValueStore&)> add;
        std::string key;
        std::string value;
    };
    const std::vector<Case> cases = {
        {[](KeyValueStore& s) { s.Add("int", -5); }, "int", "-5"},
        {[](KeyValueStore& s) { s.Add("dbl", 1.5); }, "dbl", "1.500000"},
        {[](KeyValueStore& s) { s.AddHex("hex", 255); }, "hex", "0x000000FF"},
        {[](KeyValueStore& s) { s.Add("chars", "text"); }, "chars", "text"},
        {[](KeyValueStore& s) { s.Add("str", std::string("text")); }, "str", "text"},
        {[](KeyValueStore& s) { s.Add("null", static_cast<const char*>(nullptr)); }, "null", ""},
    };
    for (const Case& c : cases) {
        KeyValueStore fresh;
        c.add(fresh);
        EXPECT_EQ(fresh[c.key], c.value);
        EXPECT_EQ(fresh.IsModified(), !c.value.empty()) << c.key;
    }

    _write_file(settings, "a=1\n");
    KeyValueStore loaded(settings);
    loaded.Add("a", 1);
    EXPECT_FALSE(loaded.IsModified()) << "same text again";
    KeyValueStore copy = loaded;
    loaded.Add(copy);
    EXPECT_TRUE(loaded.IsModified()) << "copying entries marks the store even without a change";
    KeyValueStore copied(loaded);
    EXPECT_TRUE(copied.IsModified());
    EXPECT_EQ(copied.GetPath(), settings.string());

    KeyValueStore cleared(settings);
    EXPECT_TRUE(cleared.Clear());
    EXPECT_EQ(cleared["a"], std::nullopt);
    EXPECT_TRUE(cleared.IsModified());
}

TEST_F(KeyValueStoreTest, LoadingAMissingFileCreatesItWithBothStamps) {
    KeyValueStore store(settings);
    EXPECT_FALSE(store.IsModified());
    std::smatch parts;
    const std::string text = _read_file(settings);
    ASSERT_TRUE(std::regex_match(text, parts, std::regex("CREATED_TIME=(.*)\nUPDATED_TIME=(.*)\n"))) << text;
    EXPECT_EQ(parts[1], parts[2]);
    EXPECT_TRUE(std::regex_match(parts[1].str(), TIME_TEXT)) << parts[1];
    EXPECT_EQ(logged(), "Attibutes: Error - cannot open attributes file: '" + settings.string() + "' (2)\n");
    EXPECT_EQ(_names_in(dir), std::vector<std::string>{".settings"});
}

TEST_F(KeyValueStoreTest, LoadingIntoAMissingDirectoryKeepsStampsInMemory) {
    const fs::path missing = dir / "absent" / ".settings";
    KeyValueStore store(missing);
    EXPECT_TRUE(store.IsModified());
    EXPECT_EQ(store[KeyValueStore::KEY_CREATED_TIME], store[KeyValueStore::KEY_UPDATED_TIME]);
    EXPECT_EQ(logged(), "Attibutes: Error - cannot open attributes file: '" + missing.string() + "' (2)\n" +
                            "Attibutes: Error - cannot open attributes file for writting: '" +
                            missing.string() + "' (2)\n");
    EXPECT_FALSE(fs::exists(dir / "absent"));
}

TEST_F(KeyValueStoreTest, SaveStampsOnlyChangedStores) {
    _write_file(settings, "# comment\nb=2\na=1\n");
    KeyValueStore store(settings);
    store.Save();
    EXPECT_EQ(_read_file(settings), "a=1\nb=2\n");

    store.Add("a", 3);
    store.Save();
    EXPECT_FALSE(store.IsModified());
    const std::string text = _read_file(settings);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(text, parts, std::regex("UPDATED_TIME=(.*)\na=3\nb=2\n"))) << text;
    EXPECT_TRUE(std::regex_match(parts[1].str(), TIME_TEXT));
    EXPECT_EQ(_names_in(dir), std::vector<std::string>{".settings"});
}

TEST_F(KeyValueStoreTest, SaveWithoutAnyPathUsesTheDefaultNameInTheWorkingDirectory) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    KeyValueStore store;
    store.Save();
    fs::current_path(previous);
    EXPECT_EQ(store.GetPath(), ".settings");
    EXPECT_EQ(_read_file(settings), "");
    EXPECT_EQ(logged(), "Attibutes: no filename given for attributes, using default:[.settings]\n");
}

TEST_F(KeyValueStoreTest, EntriesThatWouldBreakTheFileAreLeftOut) {
    KeyValueStore store;
    store.Add("good", "kept");
    store.Add("LATEST_TRANSFER", "x.bird\nLATEST_DOWNLOAD=../../elsewhere");
    store.Add("a=b", "1");
    store.Add("#hidden", "1");
    store.Add("new\nline", "1");
    store.Add(" ", "1");
    store.Add("huge", std::string(2100, 'x'));
    store.Add("fits", std::string(2047 - 6, 'y'));
    store.Save(settings);
    KeyValueStore reloaded(settings);
    const std::string text = _read_file(settings);
    EXPECT_TRUE(text.ends_with("\nfits=" + std::string(2041, 'y') + "\ngood=kept\n")) << text.substr(0, 80);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_EQ(reloaded.GetString("fits"), std::string(2041, 'y'));
    EXPECT_EQ(reloaded["LATEST_DOWNLOAD"], std::nullopt);
    EXPECT_EQ(reloaded["LATEST_TRANSFER"], std::nullopt);
    EXPECT_EQ(reloaded["a"], std::nullopt);
    EXPECT_EQ(reloaded["huge"], std::nullopt);
    EXPECT_TRUE(reloaded[KeyValueStore::KEY_UPDATED_TIME].has_value())
        << "entries after a left-out one still load";
    EXPECT_NE(logged().find("Attibutes: Error - entry cannot be stored, left out: 'a=b'\n"),
              std::string::npos);
    EXPECT_EQ(store["LATEST_TRANSFER"], "x.bird\nLATEST_DOWNLOAD=../../elsewhere")
        << "memory keeps the entry";
}

// A failed save must leave the previous file exactly as it was, leave no temporary file behind, and keep
// the store marked modified.
class FailedSaveTest : public KeyValueStoreTest {
protected:
    void SetUp() override {
        KeyValueStoreTest::SetUp();
        _write_file(settings, original);
        store = KeyValueStore(settings);
        store.Add("changed", std::string(4000 / 2, 'c'));
    }
    void expectUntouched(const std::vector<std::string>& names) {
        EXPECT_EQ(_read_file(settings), original);
        EXPECT_EQ(_names_in(dir), names);
        EXPECT_TRUE(store.IsModified());
        EXPECT_EQ(store["changed"], std::string(2000, 'c'));
    }
    const std::string original = "a=1\nb=2\n";
    KeyValueStore store;
};

TEST_F(FailedSaveTest, FailedWriteKeepsTheOldFile) {
    // The file-size limit makes the write fail part-way, as a full disk would.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 64;
    auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    store.Save();
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, previousHandler);
    expectUntouched({".settings"});
    EXPECT_EQ(logged(),
              "Attibutes: Error - cannot write attributes file: '" + settings.string() + "' (27)\n");
}

TEST_F(FailedSaveTest, FailedReplaceKeepsTheOldTarget) {
    const fs::path blocked = dir / "blocked";
    fs::create_directory(blocked);
    _write_file(blocked / "inside", "x");
    store.Save(blocked);
    expectUntouched({".settings", "blocked"});
    EXPECT_EQ(_names_in(blocked), std::vector<std::string>{"inside"});
    EXPECT_NE(logged().find("Attibutes: Error - cannot write attributes file: '" + blocked.string() + "' ("),
              std::string::npos);
}

TEST_F(FailedSaveTest, WriteProtectedFileIsNotReplaced) {
    // Runs as an ordinary user in a child, since the superuser may write any file.
    fs::permissions(settings, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(dir, fs::perms::all);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uid_t NOBODY = 65534;
        if (geteuid() == 0 &&
            (chown(dir.c_str(), NOBODY, NOBODY) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0))
            _exit(2);
        store.Save();
        fflush(log);
        _exit(store.IsModified() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    expectUntouched({".settings"});
    EXPECT_NE(logged().find("Attibutes: Error - cannot open attributes file for writting: '" +
                            settings.string() + "' (13)\n"),
              std::string::npos);
}

} // namespace
