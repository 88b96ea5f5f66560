#include "TempDirectory.h"
#include "aFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class FileTest : public ::testing::Test {
protected:
    aFile* open(const std::string& path, aFileOpenMode mode) {
        file = aFile_Open(path.c_str(), mode);
        return file;
    }
    void TearDown() override {
        if (file)
            aFile_Close(&file);
    }
    size_t position() {
        size_t at = 12345;
        EXPECT_EQ(aFile_GetPosition(file, &at), aErrNone);
        return at;
    }
    TempDirectory dir;
    aFile* file = nullptr;
};

TEST_F(FileTest, OpenRefusals) {
    const std::string existing = dir.write("f", "x");
    const std::string tooLong(aFILE_PATH_MAX + 1, 'a');
    const std::string missing = dir / "missing";
    const std::string inMissingDirectory = dir / "no/such/dir";
    struct Case {
        const char* path;
        aFileOpenMode mode;
    } cases[] = {
        {nullptr, aFileOpenRead},
        {"", aFileOpenRead},
        {tooLong.c_str(), aFileOpenWrite},
        {existing.c_str(), aFileOpenInvalid},
        {existing.c_str(), static_cast<aFileOpenMode>(99)},
        {missing.c_str(), aFileOpenRead},
        {inMissingDirectory.c_str(), aFileOpenWrite},
    };
    for (const Case& c : cases)
        EXPECT_EQ(aFile_Open(c.path, c.mode), nullptr) << (c.path ? c.path : "null") << " " << c.mode;
}

TEST_F(FileTest, WriteThenReadBack) {
    const std::string path = dir / "data";
    ASSERT_NE(open(path, aFileOpenWrite), nullptr);
    size_t count = 0;
    EXPECT_EQ(aFile_Write(file, "hello", 5, &count), aErrNone);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(aFile_Printf(file, "-%d-%s", 42, "x"), aErrNone);
    char buffer[16] = {};
    EXPECT_EQ(aFile_Read(file, buffer, sizeof(buffer), &count), aErrMode);
    EXPECT_EQ(aFile_Close(&file), aErrNone);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(TempDirectory::read(path), "hello-42-x");

    ASSERT_NE(open(path, aFileOpenRead), nullptr);
    EXPECT_EQ(aFile_Read(file, buffer, sizeof(buffer), &count), aErrNone); // a short read succeeds
    EXPECT_EQ(std::string(buffer, count), "hello-42-x");
    EXPECT_EQ(aFile_Write(file, "x", 1, nullptr), aErrMode);
    EXPECT_EQ(aFile_Printf(file, "x"), aErrMode);
    EXPECT_EQ(aFile_Read(file, buffer, 10, &count), aErrEOF);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(aFile_Read(file, buffer, 0, &count), aErrNone);
    EXPECT_EQ(aFile_Read(file, nullptr, 1, &count), aErrParam);
}

TEST_F(FileTest, WriteTruncatesAndAppendAddsAtTheEnd) {
    const std::string path = dir.write("log", "old content");
    ASSERT_NE(open(path, aFileOpenWrite), nullptr);
    EXPECT_EQ(aFile_Write(file, "abc", 3, nullptr), aErrNone);
    aFile_Close(&file);
    EXPECT_EQ(TempDirectory::read(path), "abc");

    ASSERT_NE(open(path, aFileOpenAppend), nullptr);
    EXPECT_EQ(position(), 3u);
    EXPECT_EQ(aFile_Write(file, "def", 3, nullptr), aErrNone);
    // Reading back through the same handle sees what was just appended.
    EXPECT_EQ(aFile_Seek(file, 0, aFileFromStart), aErrNone);
    char buffer[8] = {};
    size_t count = 0;
    EXPECT_EQ(aFile_Read(file, buffer, sizeof(buffer), &count), aErrNone);
    EXPECT_EQ(std::string(buffer, count), "abcdef");
    EXPECT_EQ(aFile_Seek(file, 0, aFileFromStart), aErrNone);
    EXPECT_EQ(aFile_Write(file, "g", 1, nullptr), aErrNone);
    aFile_Close(&file);
    EXPECT_EQ(TempDirectory::read(path), "abcdefg");
}

TEST_F(FileTest, SeekStaysInsideTheFile) {
    const std::string path = dir.write("hundred", std::string(100, 'z'));
    struct Case {
        int64_t start;
        int64_t offset;
        aFileSeekOrigin origin;
        aErr result;
        size_t position;
    } cases[] = {
        {10, 0, aFileFromEnd, aErrNone, 100},
        {10, 1, aFileFromEnd, aErrRange, 10},
        {10, -100, aFileFromEnd, aErrNone, 0},
        {10, -101, aFileFromEnd, aErrRange, 10},
        {60, -10, aFileFromCurrent, aErrNone, 50},
        {60, 41, aFileFromCurrent, aErrRange, 60},
        {60, 5, aFileFromStart, aErrNone, 5},
        {60, -1, aFileFromStart, aErrRange, 60},
        {60, INT64_MAX, aFileFromEnd, aErrRange, 60},
        {60, INT64_MIN, aFileFromCurrent, aErrRange, 60},
        {60, 7, static_cast<aFileSeekOrigin>(9), aErrNone, 7},
    };
    ASSERT_NE(open(path, aFileOpenRead), nullptr);
    for (const Case& c : cases) {
        ASSERT_EQ(aFile_Seek(file, c.start, aFileFromStart), aErrNone);
        EXPECT_EQ(aFile_Seek(file, c.offset, c.origin), c.result) << c.offset << " from " << c.origin;
        EXPECT_EQ(position(), c.position) << c.offset << " from " << c.origin;
    }
    size_t size = 0;
    ASSERT_EQ(aFile_Seek(file, 30, aFileFromStart), aErrNone);
    EXPECT_EQ(aFile_GetSize(file, &size), aErrNone);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(position(), 30u);
    EXPECT_EQ(aFile_GetSize(file, nullptr), aErrParam);
}

TEST_F(FileTest, PositionZeroIsReported) {
    ASSERT_NE(open(dir.write("p", "abc"), aFileOpenRead), nullptr);
    EXPECT_EQ(position(), 0u);
    EXPECT_EQ(aFile_GetPosition(file, nullptr), aErrParam);
}

TEST_F(FileTest, ReadLine) {
    const std::string path = dir.write("lines", "abcd\nabcdef\n\nxyz");
    ASSERT_NE(open(path, aFileOpenRead), nullptr);
    char buffer[6];
    size_t length = 99;
    EXPECT_EQ(aFile_ReadLine(file, buffer, sizeof(buffer), &length), aErrNone);
    EXPECT_EQ(length, 5u);
    EXPECT_STREQ(buffer, "abcd\n");
    EXPECT_EQ(aFile_ReadLine(file, buffer, sizeof(buffer), &length), aErrOverrun);
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(aFile_ReadLine(file, buffer, sizeof(buffer), &length), aErrNone); // the rest of the cut line
    EXPECT_STREQ(buffer, "f\n");
    EXPECT_EQ(aFile_ReadLine(file, buffer, sizeof(buffer), &length), aErrNone);
    EXPECT_STREQ(buffer, "\n");
    EXPECT_EQ(aFile_ReadLine(file, buffer, sizeof(buffer), &length), aErrNone); // last line, no newline
    EXPECT_STREQ(buffer, "xyz");
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(aFile_ReadLine(file, buffer, sizeof(buffer), &length), aErrEOF);
    EXPECT_EQ(length, 0u);
    EXPECT_STREQ(buffer, "");
}

TEST_F(FileTest, ReadLineFinalLineFillingTheBufferIsWhole) {
    ASSERT_NE(open(dir.write("exact", "abcde"), aFileOpenRead), nullptr);
    char buffer[6];
    size_t length = 0;
    EXPECT_EQ(aFile_ReadLine(file, buffer, sizeof(buffer), &length), aErrNone);
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(aFile_ReadLine(file, buffer, sizeof(buffer), &length), aErrEOF);
}

TEST_F(FileTest, ReadLineNeedsReadingMode) {
    ASSERT_NE(open(dir / "w", aFileOpenWrite), nullptr);
    char buffer[8] = "junk";
    size_t length = 7;
    EXPECT_EQ(aFile_ReadLine(file, buffer, sizeof(buffer), &length), aErrMode);
    EXPECT_EQ(length, 0u);
    EXPECT_STREQ(buffer, "");
}

TEST_F(FileTest, UnbufferedWritesReachTheFileAtOnce) {
    const std::string path = dir / "unbuffered";
    ASSERT_NE(open(path, aFileOpenWrite), nullptr);
    EXPECT_EQ(aFile_SetUnbuffered(file), aErrNone);
    EXPECT_EQ(aFile_Printf(file, "line %u\n", 7u), aErrNone);
    EXPECT_EQ(TempDirectory::read(path), "line 7\n");
    aFile_Close(&file);
    ASSERT_NE(open(path, aFileOpenRead), nullptr);
    EXPECT_EQ(aFile_SetUnbuffered(file), aErrMode);
}

TEST_F(FileTest, InvalidHandlesAreRefused) {
    aFile forged = {nullptr, aFileOpenAppend, 0x1234};
    char buffer[4];
    size_t count = 0;
    EXPECT_EQ(aFile_Read(&forged, buffer, 1, &count), aErrParam);
    EXPECT_EQ(aFile_Write(&forged, buffer, 1, &count), aErrParam);
    EXPECT_EQ(aFile_Seek(&forged, 0, aFileFromStart), aErrParam);
    EXPECT_EQ(aFile_GetSize(&forged, &count), aErrParam);
    EXPECT_EQ(aFile_GetPosition(&forged, &count), aErrParam);
    EXPECT_EQ(aFile_ReadLine(&forged, buffer, sizeof(buffer), &count), aErrParam);
    EXPECT_EQ(aFile_SetUnbuffered(&forged), aErrParam);
    EXPECT_EQ(aFile_Printf(&forged, "x"), aErrParam);
    EXPECT_EQ(aFile_Read(nullptr, buffer, 1, &count), aErrParam);

    aFile* handle = &forged;
    EXPECT_EQ(aFile_Close(&handle), aErrParam);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(aFile_Close(nullptr), aErrParam);
}

TEST_F(FileTest, ExistsAndDelete) {
    const std::string path = dir.write("doomed", "x");
    const std::string atLimit = "/" + std::string(aFILE_PATH_MAX - 1, 'a');
    const std::string pastLimit = atLimit + "a";
    EXPECT_TRUE(aFile_Exists(path.c_str()));
    EXPECT_FALSE(aFile_Exists(dir.path.c_str()));
    EXPECT_FALSE(aFile_Exists((dir / "missing").c_str()));
    EXPECT_FALSE(aFile_Exists(nullptr));
    EXPECT_FALSE(aFile_Exists(pastLimit.c_str()));

    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNone);
    EXPECT_FALSE(aFile_Exists(path.c_str()));
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNotFound);
    EXPECT_EQ(aFile_Delete(nullptr), aErrParam);
    EXPECT_EQ(aFile_Delete(pastLimit.c_str()), aErrFileNameLength);
    EXPECT_NE(aFile_Delete(atLimit.c_str()), aErrFileNameLength); // the limit itself is accepted
    EXPECT_EQ(aFile_Delete(dir.path.c_str()), aErrIO);
}

} // namespace
