#include "base64.h"

#include <array>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr char encoding_table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t mod_table[] = {0, 2, 1};
constexpr char FILL = '=';
constexpr uint8_t NOT_IN_ALPHABET = 0xFF;

// Indexed by every possible byte, so no input character can reach outside it.
constexpr std::array<uint8_t, 256> _make_decoding_table() {
    std::array<uint8_t, 256> table{};
    table.fill(NOT_IN_ALPHABET);
    for (uint8_t i = 0; i < 64; i++)
        table[static_cast<unsigned char>(encoding_table[i])] = i;
    return table;
}

constexpr std::array<uint8_t, 256> decoding_table = _make_decoding_table();

size_t _fill_count(const char* data, size_t input_length) {
    if (input_length == 0 || data[input_length - 1] != FILL)
        return 0;
    return data[input_length - 2] == FILL ? 2 : 1;
}

bool _all_in_alphabet(const char* data, size_t length) {
    for (size_t i = 0; i < length; i++)
        if (decoding_table[static_cast<unsigned char>(data[i])] == NOT_IN_ALPHABET)
            return false;
    return true;
}

} // namespace

unsigned char* base64_decode(const char* data, size_t input_length, size_t* output_length) {
    if (input_length % 4 != 0)
        return nullptr;
    size_t fill = _fill_count(data, input_length);
    if (!_all_in_alphabet(data, input_length - fill))
        return nullptr;

    size_t length = input_length / 4 * 3 - fill;
    auto* decoded = static_cast<unsigned char*>(malloc(length + 1));
    if (decoded == nullptr)
        return nullptr;
    for (size_t i = 0, j = 0; i < input_length; i += 4) {
        uint32_t triple = 0;
        for (size_t k = 0; k < 4; k++) {
            char c = data[i + k];
            triple = (triple << 6) | (c == FILL ? 0 : decoding_table[static_cast<unsigned char>(c)]);
        }
        for (int shift = 16; shift >= 0 && j < length; shift -= 8)
            decoded[j++] = static_cast<unsigned char>(triple >> shift);
    }
    decoded[length] = 0;
    *output_length = length;
    return decoded;
}

char* base64_encode(const unsigned char* data, size_t input_length, size_t* output_length) {
    size_t length = 4 * ((input_length + 2) / 3);
    auto* encoded = static_cast<char*>(malloc(length + 1));
    if (encoded == nullptr)
        return nullptr;
    for (size_t i = 0, j = 0; i < input_length; i += 3) {
        uint32_t triple = static_cast<uint32_t>(data[i]) << 16;
        if (i + 1 < input_length)
            triple |= static_cast<uint32_t>(data[i + 1]) << 8;
        if (i + 2 < input_length)
            triple |= data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            encoded[j++] = encoding_table[(triple >> shift) & 0x3F];
    }
    for (size_t i = 0; i < mod_table[input_length % 3]; i++)
        encoded[length - 1 - i] = FILL;
    encoded[length] = 0;
    *output_length = length;
    return encoded;
}
