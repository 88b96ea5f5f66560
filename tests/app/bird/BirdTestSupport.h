#ifndef TESTS_BIRDTESTSUPPORT_H
#define TESTS_BIRDTESTSUPPORT_H

#include "Log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

// A fresh temporary directory and a capture of the diagnostic log with every package switched on.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qv-bird-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        capture = tmpfile();
        Log::SetOutput(capture);
        Log::package_bitmask = 0xFFFFFFFF;
    }
    void TearDown() override {
        Log::SetOutput(nullptr);
        Log::package_bitmask = 0;
        fclose(capture);
        std::filesystem::remove_all(dir);
    }

    std::string Path(const std::string& name) const { return dir + "/" + name; }

    std::string WriteRaw(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return Path(name);
    }

    static std::vector<uint8_t> ReadRaw(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Everything logged since the last call.
    std::string Logged() {
        fflush(capture);
        std::string text;
        rewind(capture);
        for (int c; (c = fgetc(capture)) != EOF;)
            text += static_cast<char>(c);
        rewind(capture);
        if (ftruncate(fileno(capture), 0) != 0)
            ADD_FAILURE() << "cannot clear the log capture";
        return text;
    }

    std::string dir;
    FILE* capture = nullptr;
};

#endif
