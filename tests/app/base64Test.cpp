#include "base64.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// The decoded bytes, or nothing when the decoder refused the text.
std::unique_ptr<std::string> _decode(const std::string& text) {
    size_t length = 12345;
    unsigned char* bytes = base64_decode(text.data(), text.size(), &length);
    if (bytes == nullptr)
        return nullptr;
    EXPECT_EQ(bytes[length], 0) << "decoded bytes end with a zero byte";
    auto decoded = std::make_unique<std::string>(reinterpret_cast<char*>(bytes), length);
    free(bytes);
    return decoded;
}

std::string _encode(const std::string& bytes) {
    size_t length = 0;
    char* text = base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &length);
    std::string encoded(text, length);
    EXPECT_EQ(text[length], '\0');
    free(text);
    return encoded;
}

TEST(Base64Test, DecodesGroupsAndFill) {
    struct Case {
        std::string text;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"QUJD", "ABC"},
        {"QUI=", "AB"},
        {"QQ==", "A"},
        {"AP8A", std::string("\x00\xff\x00", 3)},
        {"+/+/", "\xfb\xff\xbf"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<std::string> decoded = _decode(c.text);
        ASSERT_NE(decoded, nullptr) << c.text;
        EXPECT_EQ(*decoded, c.bytes) << c.text;
    }
}

TEST(Base64Test, RoundTripsEveryRemainderAndEveryByte) {
    std::string all;
    for (int i = 0; i < 256; i++)
        all += static_cast<char>(i);
    for (size_t length : {0, 1, 2, 3, 4, 5, 255, 256}) {
        std::string bytes = all.substr(0, length);
        std::string text = _encode(bytes);
        EXPECT_EQ(text.size(), 4 * ((length + 2) / 3));
        std::unique_ptr<std::string> decoded = _decode(text);
        ASSERT_NE(decoded, nullptr) << length;
        EXPECT_EQ(*decoded, bytes) << length;
    }
    EXPECT_EQ(_encode("ABC"), "QUJD");
    EXPECT_EQ(_encode("AB"), "QUI=");
}

// A payload damaged on the way must not turn into a file of wrong bytes, nor make the decoder read
// outside its table.
TEST(Base64Test, RefusesTextOutsideTheAlphabet) {
    const std::vector<std::vector<std::string>> refused = {
        {"QUJDR", "QUJ"},                                // length not a multiple of 4
        {"QU D", "QUJ\r"},                               // white space and line ends
        {"QU-D", "QU_D"},                                // the URL-safe alphabet is another alphabet
        {"Q=JD", "QU=D", "====", "A==="},                // fill only at the end
        {"QUJ\x80", "QUJ\xff", std::string("QU\0D", 4)}, // bytes past the table's printable range
    };
    for (const std::vector<std::string>& group : refused)
        for (const std::string& text : group)
            EXPECT_EQ(_decode(text), nullptr) << text;
}

} // namespace
