#include "UpdaterStore.h"

#include "BirdTestSupport.h"
#include "BirdWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class UpdaterStoreTest : public TempDirTest {
protected:
    std::string Root() const { return Path("store"); }

    static std::vector<std::string> Names(const std::string& directory) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    // A store whose device 00ABCDEF holds two BIRD files besides its settings.
    UpdaterStoreItem DeviceWithBuilds(UpdaterStore& store) {
        UpdaterStoreItem device = store.AddDevice(0x00ABCDEF);
        BirdWriter().AddInfo(1234, "1.2.3", 0x00ABCDEF, "Hub4").Write(Root() + "/00ABCDEF/1234.bird");
        BirdWriter().AddInfo(1300, "1.3.0", 0x00ABCDEF, "Hub4").Write(Root() + "/00ABCDEF/1300.bird");
        return device;
    }
};

TEST_F(UpdaterStoreTest, BuildPathJoinsPiecesUpToTheFirstMissingOne) {
    EXPECT_EQ(BuildPath({"a/", "b"}), "a//b");
    EXPECT_EQ(BuildPath({"a", "b", "c.bird"}), "a/b/c.bird");
    EXPECT_EQ(BuildPath({"a", nullptr, "c"}), "a");
    EXPECT_EQ(BuildPath({"/root"}), "/root");
}

TEST_F(UpdaterStoreTest, RootIsCreatedWithItsParentsOrRefused) {
    std::string nested = Path("a/b/store");
    UpdaterStore store(nested);
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_EQ(store.BasePath(), nested);
    EXPECT_EQ(Logged(), "UpdaterStore: Created directory [" + nested + "].\n");
    UpdaterStore again(nested);
    EXPECT_EQ(Logged(), "UpdaterStore: [" + nested + "] already exists.\n");

    WriteRaw("plain", {1});
    struct Case {
        std::string root;
        std::string message;
    } cases[] = {
        {Path("plain"), "UpdaterStore: " + Path("plain") + " exists and is a file"},
        {Path("plain/store"),
         "UpdaterStore: Could not create directory " + Path("plain/store") + " error 12"},
    };
    for (const Case& c : cases) {
        try {
            UpdaterStore refused(c.root);
            ADD_FAILURE() << c.root << " accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

TEST_F(UpdaterStoreTest, AddDeviceCreatesTheDirectoryAndStampedSettingsOnce) {
    UpdaterStore store(Root());
    Logged();
    UpdaterStoreItem item = store.AddDevice(0x00ABCDEF);
    EXPECT_TRUE(item.IsValid());
    EXPECT_EQ(item.kind, STORE_ITEM_DIRECTORY);
    EXPECT_EQ(item.base, Root());
    EXPECT_EQ(item.name, "00ABCDEF");
    EXPECT_NE(Logged().find("UpdaterStore: Created directory [" + Root() + "/00ABCDEF].\n"),
              std::string::npos);
    std::string settingsPath = Root() + "/00ABCDEF/.settings";
    Bytes settings = ReadRaw(settingsPath);
    std::string text(settings.begin(), settings.end());
    EXPECT_EQ(text.find("CREATED_TIME="), 0u);
    EXPECT_NE(text.find("\nUPDATED_TIME="), std::string::npos);
    EXPECT_TRUE(item.settings["CREATED_TIME"].has_value());

    auto written = fs::last_write_time(settingsPath);
    UpdaterStoreItem second = store.AddDevice("00ABCDEF");
    EXPECT_NE(Logged().find("UpdaterStore: [" + Root() + "/00ABCDEF] already exists.\n"), std::string::npos);
    EXPECT_EQ(ReadRaw(settingsPath), settings);
    EXPECT_EQ(fs::last_write_time(settingsPath), written);
    EXPECT_EQ(Names(Root() + "/00ABCDEF"), std::vector<std::string>{".settings"});
    EXPECT_EQ(second.settings.GetString("CREATED_TIME"), item.settings.GetString("CREATED_TIME"));
}

TEST_F(UpdaterStoreTest, FindDeviceTakesTheFirstEntryContainingTheName) {
    UpdaterStore store(Root());
    UpdaterStoreItem kept(Path("keep"), "keep", STORE_ITEM_FILE);
    Logged();
    EXPECT_FALSE(store.FindDevice(0x00ABCDEF, &kept));
    EXPECT_EQ(kept.base, Path("keep"));
    EXPECT_EQ(kept.kind, STORE_ITEM_FILE);
    std::string log = Logged();
    EXPECT_NE(log.find("_find_item([" + Root() + "/.], 1, "), std::string::npos) << log;
    EXPECT_NE(log.find(") searching for 00ABCDEF\n"), std::string::npos);
    EXPECT_NE(log.find("UpdaterStore: FindDevice Not Found 00ABCDEF.\n"), std::string::npos);

    std::vector<UpdaterStoreItem> items(1);
    EXPECT_TRUE(store.FindLocalBuilds(0x00ABCDEF, items));
    EXPECT_EQ(items.size(), 1u);

    // Only entry: a file whose name contains the serial.
    WriteRaw("store/00ABCDEF.old", {1, 2, 3});
    UpdaterStoreItem found;
    EXPECT_TRUE(store.FindDevice(0x00ABCDEF, &found));
    EXPECT_EQ(found.base, Root());
    EXPECT_EQ(found.name, "00ABCDEF.old");
    EXPECT_EQ(found.kind, STORE_ITEM_FILE);
    EXPECT_NE(Logged().find("_find_item([" + Root() + "/00ABCDEF.old], 0, 3) searching for 00ABCDEF\n"),
              std::string::npos);

    fs::remove(Root() + "/00ABCDEF.old");
    store.AddDevice(0x00ABCDEF);
    Logged();
    EXPECT_TRUE(store.FindDevice(0x00ABCDEF));
    EXPECT_TRUE(store.FindDevice("ABCD", &found));
    EXPECT_EQ(found.name, "00ABCDEF");
    EXPECT_EQ(found.kind, STORE_ITEM_DIRECTORY);
    EXPECT_TRUE(found.settings["UPDATED_TIME"].has_value());
    EXPECT_NE(Logged().find("UpdaterStore: FindDevice Found ABCD.\n"), std::string::npos);
}

TEST_F(UpdaterStoreTest, FindLocalBuildsListsVisibleEntriesOfTheDevice) {
    UpdaterStore store(Root());
    DeviceWithBuilds(store);
    WriteRaw("store/00ABCDEF/.1234.bird.tmp99", {1});
    std::vector<UpdaterStoreItem> items(1);
    Logged();
    EXPECT_TRUE(store.FindLocalBuilds(0x00ABCDEF, items));
    ASSERT_EQ(items.size(), 3u);
    EXPECT_FALSE(items[0].IsValid());
    std::vector<std::string> names{items[1].name, items[2].name};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"1234.bird", "1300.bird"}));
    for (size_t i = 1; i < 3; i++) {
        EXPECT_EQ(items[i].base, Root() + "/00ABCDEF");
        EXPECT_EQ(items[i].kind, STORE_ITEM_FILE);
        // A file's settings live in memory only.
        EXPECT_TRUE(items[i].settings["CREATED_TIME"].has_value());
    }
    EXPECT_NE(Logged().find("_find_items([" + Root() + "/00ABCDEF/.settings], 0, "), std::string::npos);
    EXPECT_EQ(Names(Root() + "/00ABCDEF"),
              (std::vector<std::string>{".1234.bird.tmp99", ".settings", "1234.bird", "1300.bird"}));
}

TEST_F(UpdaterStoreTest, FileExistsMatchesEntriesOfTheItem) {
    UpdaterStore store(Root());
    UpdaterStoreItem device = DeviceWithBuilds(store);
    EXPECT_TRUE(device.FileExists("1300.bird"));
    EXPECT_TRUE(device.FileExists("1234"));
    EXPECT_FALSE(device.FileExists("9999.bird"));
    EXPECT_FALSE(UpdaterStoreItem().IsValid());
}

TEST_F(UpdaterStoreTest, ReadBirdFileChecksTheSignatureBeforeLoading) {
    UpdaterStore store(Root());
    UpdaterStoreItem device = DeviceWithBuilds(store);
    EXPECT_EQ(device.ReadBirdFile("1300.bird").GetVersion(), "1.3.0");

    WriteRaw("store/00ABCDEF/text.bird", {'B', 'I', 'R', 'D', 1, 1, 0});
    WriteRaw("store/00ABCDEF/body.bird", {'b', 'i', 'r', 'd', 1, 1, 0});
    struct Case {
        const char* file;
        std::string message;
    } cases[] = {
        {"text.bird", "Invalid bird " + Root() + "/00ABCDEF/text.bird"},
        {"missing.bird", "Invalid bird " + Root() + "/00ABCDEF/missing.bird"},
        {"body.bird", "Failed to load bird data"},
    };
    for (const Case& c : cases) {
        try {
            device.ReadBirdFile(c.file);
            ADD_FAILURE() << c.file << " loaded";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

TEST_F(UpdaterStoreTest, WriteFileReplacesTheFileWholeOrNotAtAll) {
    UpdaterStore store(Root());
    UpdaterStoreItem device = store.AddDevice(0x00ABCDEF);
    std::string target = Root() + "/00ABCDEF/1234.bird";

    EXPECT_EQ(device.WriteFile("1234.bird", nullptr, 10), aErrNotFound);
    EXPECT_FALSE(fs::exists(target));

    const Bytes old = BirdWriter().AddInfo(1234, "1.0.0", 1, "Hub").Bytes();
    EXPECT_EQ(device.WriteFile("1234.bird", old.data(), old.size()), aErrNone);
    EXPECT_EQ(ReadRaw(target), old);
    const Bytes shorter = {'b', 'i', 'r', 'd', 1, 1};
    EXPECT_EQ(device.WriteFile("1234.bird", shorter.data(), shorter.size()), aErrNone);
    EXPECT_EQ(ReadRaw(target), shorter);
    EXPECT_EQ(device.WriteFile("1234.bird", old.data(), old.size()), aErrNone);

    // A disk that fills up part-way: the file size limit cuts the write short.
    const Bytes large = BirdWriter::PatternImage(64 * 1024, 1);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    auto previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    aErr result = device.WriteFile("1234.bird", large.data(), large.size());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(result, aErrWrite);
    EXPECT_EQ(ReadRaw(target), old);
    EXPECT_EQ(Names(Root() + "/00ABCDEF"), (std::vector<std::string>{".settings", "1234.bird"}));

    UpdaterStoreItem gone(Root(), "FFFFFFFF", STORE_ITEM_DIRECTORY);
    EXPECT_EQ(gone.WriteFile("1.bird", old.data(), old.size()), aErrNotFound);
}

} // namespace
