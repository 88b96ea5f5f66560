#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "aStream.h"
#include "aStreamfile.h"

namespace {

// A transport that hands out scripted bytes and results and records what is sent to it.
struct Script {
    std::deque<int> gets; // a byte, or the negated code to report
    std::string sent;
    int puts = 0;
    int writes = 0;

    void add(const std::string& bytes) {
        for (unsigned char c : bytes)
            gets.push_back(c);
    }
    void fail(aErr code) { gets.push_back(-int(code)); }
};

aErr scriptGet(uint8_t* byte, void* ref) {
    auto* script = static_cast<Script*>(ref);
    if (script->gets.empty())
        return aErrNotReady;
    int next = script->gets.front();
    script->gets.pop_front();
    if (next < 0)
        return aErr(-next);
    *byte = uint8_t(next);
    return aErrNone;
}

aErr scriptPut(const uint8_t* byte, void* ref) {
    auto* script = static_cast<Script*>(ref);
    script->puts++;
    script->sent.push_back(char(*byte));
    return aErrNone;
}

aErr scriptWrite(const uint8_t* data, size_t length, void* ref) {
    auto* script = static_cast<Script*>(ref);
    script->writes++;
    script->sent.append(reinterpret_cast<const char*>(data), length);
    return aErrNone;
}

class StreamTest : public ::testing::Test {
protected:
    void TearDown() override { aStream_Destroy(&stream); }
    std::string read(size_t size, aErr expected) {
        std::string out(size, '\0');
        EXPECT_EQ(aStream_Read(stream, reinterpret_cast<uint8_t*>(out.data()), size), expected);
        return out;
    }

    Script script;
    aStream* stream = aStream_Create(scriptGet, scriptPut, scriptWrite, nullptr, &script);
};

} // namespace

TEST_F(StreamTest, IncompleteReadLeavesItsBytesForTheNextRead) {
    script.add("ab");
    std::string untouched = "....";
    EXPECT_EQ(aStream_Read(stream, reinterpret_cast<uint8_t*>(untouched.data()), 4), aErrNotReady);
    EXPECT_EQ(untouched, "....");
    EXPECT_EQ(stream->pushBackCount, 2u);
    script.add("cd");
    EXPECT_EQ(read(4, aErrNone), "abcd");
    EXPECT_EQ(stream->pushBackCount, 0u);
}

TEST_F(StreamTest, ReadUpToTheEndOfFileDeliversWhatCame) {
    script.add("xyz");
    script.fail(aErrEOF);
    EXPECT_EQ(read(4, aErrEOF).substr(0, 3), "xyz");
}

TEST_F(StreamTest, OtherReadFailuresAreReturnedAndNothingIsCopied) {
    script.add("x");
    script.fail(aErrIO);
    EXPECT_EQ(read(2, aErrIO), std::string(2, '\0'));
    EXPECT_EQ(aStream_Read(stream, nullptr, 1), aErrParam);
    EXPECT_EQ(aStream_Read(nullptr, reinterpret_cast<uint8_t*>(script.sent.data()), 1), aErrParam);
}

TEST_F(StreamTest, PushBackRingGrowsAndKeepsTheOrder) {
    std::string expected;
    for (int i = 0; i < 600; i++) {
        expected.push_back(char(i % 251));
        ASSERT_EQ(aStreamBufferChar(stream, uint8_t(i % 251)), aErrNone);
        if (i == 510) {
            EXPECT_EQ(stream->pushBackCapacity, 512u);
        }
    }
    EXPECT_EQ(stream->pushBackCapacity, 1024u);
    EXPECT_EQ(read(600, aErrNone), expected);
}

TEST_F(StreamTest, WriteUsesPutForOneByteAndWriteForMore) {
    const uint8_t bytes[] = {'h', 'i'};
    EXPECT_EQ(aStream_Write(stream, bytes, 1), aErrNone);
    EXPECT_EQ(script.puts, 1);
    EXPECT_EQ(aStream_Write(stream, bytes, 2), aErrNone);
    EXPECT_EQ(script.writes, 1);
    EXPECT_EQ(aStream_Write(stream, bytes, 0), aErrNone);
    EXPECT_EQ(script.sent, "hhi");
    EXPECT_EQ(aStream_Write(stream, nullptr, 1), aErrParam);

    aStream* readOnly = aStream_Create(scriptGet, nullptr, nullptr, nullptr, &script);
    EXPECT_EQ(aStream_Write(readOnly, bytes, 2), aErrMode);
    aStream_Destroy(&readOnly);
}

TEST_F(StreamTest, CStringReadsStopAtTheTerminatorOrAFullBuffer) {
    char text[5];
    script.add(std::string("abc\0", 4));
    EXPECT_EQ(aStream_ReadCString(stream, text, sizeof(text)), aErrNone);
    EXPECT_STREQ(text, "abc");

    script.add(std::string("abcde\0", 6));
    EXPECT_EQ(aStream_ReadCString(stream, text, sizeof(text)), aErrNone);
    EXPECT_STREQ(text, "abcd");
    EXPECT_EQ(read(2, aErrNone), std::string("e\0", 2));
}

TEST_F(StreamTest, RecordReadsSurviveBrokenTerminatorsAndMissingBytes) {
    char line[32];
    script.add("ab\r\r\nc");
    EXPECT_EQ(aStream_ReadCStringRecord(stream, line, sizeof(line), "\r\n"), aErrNone);
    EXPECT_STREQ(line, "ab\r");

    // The rest of the record is not there yet: everything read so far, terminator bytes included, waits.
    script.add("d\r");
    EXPECT_EQ(aStream_ReadCStringRecord(stream, line, sizeof(line), "\r\n"), aErrNotReady);
    script.add("\n");
    EXPECT_EQ(aStream_ReadCStringRecord(stream, line, sizeof(line), "\r\n"), aErrNone);
    EXPECT_STREQ(line, "cd");

    script.add("tail");
    script.fail(aErrEOF);
    EXPECT_EQ(aStream_ReadCStringRecord(stream, line, sizeof(line), "\r\n"), aErrNone);
    EXPECT_STREQ(line, "tail");
    script.fail(aErrEOF);
    EXPECT_EQ(aStream_ReadCStringRecord(stream, line, sizeof(line), "\r\n"), aErrEOF);
    EXPECT_EQ(aStream_ReadCStringRecord(stream, line, sizeof(line), ""), aErrParam);
}

TEST_F(StreamTest, RecordWritesAppendTheTerminator) {
    EXPECT_EQ(aStream_WriteCStringRecord(stream, "ab", "xy"), aErrNone);
    EXPECT_EQ(aStream_WriteCString(stream, "c"), aErrNone);
    EXPECT_EQ(script.sent, std::string("abxy\0c\0", 7));
    const uint8_t terminator[] = {'\n'};
    EXPECT_EQ(aStream_WriteRecord(stream, nullptr, 0, terminator, 1), aErrParam);
    EXPECT_EQ(aStream_WriteRecord(stream, terminator, 1, terminator, 0), aErrParam);
}

TEST(StreamLifetime, DestroyRunsTheDeleteProcedureOnceAndClearsTheVariable) {
    static int deletes;
    deletes = 0;
    aStream* stream = aStream_Create(
        nullptr, nullptr, nullptr,
        [](void*) {
            deletes++;
            return aErr(aErrBusy);
        },
        nullptr);
    EXPECT_EQ(aStream_Destroy(&stream), aErrBusy);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(deletes, 1);
    EXPECT_EQ(aStream_Destroy(&stream), aErrParam);
}

TEST(FileStream, WritesReachTheDiskAndReadBackUntilTheEnd) {
    auto path = std::filesystem::temp_directory_path() / ("qv_stream_" + std::to_string(getpid()));
    aStream* out = nullptr;
    ASSERT_EQ(aStream_CreateFileOutput(path.c_str(), &out), aErrNone);
    EXPECT_EQ(out->getProc, nullptr);
    EXPECT_EQ(aStream_WriteCStringRecord(out, "one", "\n"), aErrNone);
    EXPECT_EQ(aStream_Destroy(&out), aErrNone);

    aStream* in = nullptr;
    ASSERT_EQ(aStream_CreateFileInput(path.c_str(), &in), aErrNone);
    EXPECT_EQ(in->putProc, nullptr);
    char text[8];
    EXPECT_EQ(aStream_ReadCStringRecord(in, text, sizeof(text), "\n"), aErrNone);
    EXPECT_STREQ(text, "one");
    EXPECT_EQ(aStream_ReadCString(in, text, sizeof(text)), aErrNone);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(aStream_ReadCString(in, text, sizeof(text)), aErrEOF);

    // Flushing copies every byte up to the end of the source.
    aStream_Destroy(&in);
    ASSERT_EQ(aStream_CreateFileInput(path.c_str(), &in), aErrNone);
    Script sink;
    aStream* copy = aStream_Create(nullptr, scriptPut, nullptr, nullptr, &sink);
    EXPECT_EQ(aStream_Flush(in, copy), aErrNone);
    EXPECT_EQ(sink.sent, std::string("one\n\0", 5));
    EXPECT_EQ(aStream_Flush(copy, in), aErrMode);
    aStream_Destroy(&copy);
    aStream_Destroy(&in);
    std::filesystem::remove(path);
}

TEST(FileStream, CreatorsReportAnyFailureAsResource) {
    aStream* stream = reinterpret_cast<aStream*>(1);
    EXPECT_EQ(aStream_CreateFileInput("/nonexistent/qv/file", &stream), aErrResource);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(aStream_CreateFileInput(nullptr, &stream), aErrResource);
    EXPECT_EQ(aStream_CreateFileOutput("/nonexistent/qv/file", &stream), aErrResource);
    EXPECT_EQ(aStream_CreateFileOutput("/tmp/x", nullptr), aErrResource);
}
