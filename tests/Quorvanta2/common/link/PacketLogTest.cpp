#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

#include "ResourceGuard.h"
#include "aLogger.h"
#include "aPacketDebug.h"

namespace {

using namespace std::chrono_literals;

struct Record {
    uint8_t type;
    std::string bytes;
    bool operator==(const Record&) const = default;
    friend void PrintTo(const Record& record, std::ostream* out) {
        *out << int(record.type) << " \"" << record.bytes << "\"";
    }
};

aErr put(aPacketLog* log, const Record& record) {
    return aPacketLog_Put(log, record.type, record.bytes.size(),
                          reinterpret_cast<const uint8_t*>(record.bytes.data()));
}

Record get(aPacketLog* log, aErr expected = aErrNone) {
    Record record{0, std::string(255, '\0')};
    size_t length = record.bytes.size();
    EXPECT_EQ(aPacketLog_Get(log, &record.type, &length, reinterpret_cast<uint8_t*>(record.bytes.data())),
              expected);
    record.bytes.resize(expected == aErrNone ? length : 0);
    return record;
}

} // namespace

TEST(PacketLog, FullRingDropsTheOldestRecordsAndRefusesOnesThatCanNeverFit) {
    aPacketLog* log = aPacketLog_Create(16);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(put(log, {1, "aaaa"}), aErrNone);
    EXPECT_EQ(put(log, {2, "bbbb"}), aErrNone);
    EXPECT_EQ(put(log, {3, "cccc"}), aErrNone);
    EXPECT_EQ(put(log, {1, std::string(14, 'x')}), aErrOverrun);
    EXPECT_EQ(get(log), (Record{2, "bbbb"}));
    EXPECT_EQ(get(log), (Record{3, "cccc"}));
    get(log, aErrNotFound);

    // Records wrap around the end of the ring intact; three of five bytes fit into sixteen.
    for (char c = 'a'; c <= 'z'; c++)
        EXPECT_EQ(put(log, {2, std::string(3, c)}), aErrNone);
    EXPECT_EQ(get(log), (Record{2, "xxx"}));
    EXPECT_EQ(get(log), (Record{2, "yyy"}));
    EXPECT_EQ(get(log), (Record{2, "zzz"}));
    EXPECT_EQ(aPacketLog_Destroy(&log), aErrNone);
    EXPECT_EQ(log, nullptr);
    EXPECT_EQ(aPacketLog_Destroy(&log), aErrNone);
}

TEST(PacketLog, ReaderWithTooSmallABufferLearnsTheLengthAndCanRetry) {
    aPacketLog* log = aPacketLog_Create(64);
    ASSERT_EQ(put(log, {3, "hello"}), aErrNone);
    uint8_t type = 0;
    size_t length = 2;
    uint8_t buffer[5];
    EXPECT_EQ(aPacketLog_Get(log, &type, &length, buffer), aErrOverrun);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(type, 3);
    EXPECT_EQ(aPacketLog_Get(log, &type, &length, buffer), aErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "hello");
    aPacketLog_Destroy(&log);
}

class LoggerTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
        EXPECT_EQ(logger, nullptr);
        std::filesystem::remove(path);
        guard.Verify();
    }

    ResourceGuard guard;
    std::string path =
        (std::filesystem::temp_directory_path() / ("qv_logger_" + std::to_string(getpid()))).string();
    aLogger* logger = nullptr;
};

TEST_F(LoggerTest, RunsOneThreadThatCanOnlyBeStoppedFromOutside) {
    static std::atomic<int> calls;
    static std::atomic<aLogger*> self;
    static std::atomic<int> disableFromInside;
    calls = 0;
    disableFromInside = -1;
    logger = aLogger_Create(
        7,
        [](aFile* file, uint32_t linkId) {
            if (calls++ == 0) {
                aFile_Printf(file, "link %u\n", linkId);
                disableFromInside = aLogger_Disable(self);
            }
            std::this_thread::sleep_for(1ms);
        },
        path.c_str());
    ASSERT_NE(logger, nullptr);
    self = logger;
    EXPECT_EQ(aLogger_Enable(logger), aErrNone);
    EXPECT_EQ(aLogger_Enable(logger), aErrNone);
    while (calls < 20)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(disableFromInside, aErrNone);
    EXPECT_EQ(aLogger_Disable(logger), aErrNone);
    const int stopped = calls;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(calls, stopped);
    EXPECT_EQ(aLogger_Disable(logger), aErrNone);

    aFile* file = aFile_Open(path.c_str(), aFileOpenRead);
    char line[32];
    size_t length = 0;
    EXPECT_EQ(aFile_ReadLine(file, line, sizeof(line), &length), aErrNone);
    EXPECT_STREQ(line, "link 7\n");
    aFile_Close(&file);
}

TEST_F(LoggerTest, RefusesWhatItCannotUse) {
    EXPECT_EQ(aLogger_Create(
                  1, [](aFile*, uint32_t) {}, "/nonexistent/qv/log"),
              nullptr);
    EXPECT_EQ(aLogger_Create(1, nullptr, path.c_str()), nullptr);
    EXPECT_EQ(aLogger_Enable(nullptr), aErrParam);
    EXPECT_EQ(aLogger_Disable(nullptr), aErrParam);
}
