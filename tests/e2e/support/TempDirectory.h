#ifndef TESTS_E2E_TEMPDIRECTORY_H
#define TESTS_E2E_TEMPDIRECTORY_H

#include <string>

// A fresh directory under the system's temporary directory, removed with everything in it when the
// object goes.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return path; }
    std::string operator/(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

// The whole file, or an empty text when it cannot be read.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& content);

#endif
