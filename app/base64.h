#ifndef UPDATER_BASE64_H
#define UPDATER_BASE64_H

#include <cstddef>

// Standard base64 (A-Z, a-z, 0-9, "+", "/", "=" as fill). Both functions return a buffer from malloc
// that the caller releases with free().

// The decoded bytes followed by one zero byte; *output_length receives their count. Returns nullptr
// when the length is not a multiple of 4 or the text holds a character outside the alphabet ("="
// counts as fill only in the last two places).
unsigned char* base64_decode(const char* data, size_t input_length, size_t* output_length);

// The text of 4 * ceil(input_length / 3) characters followed by a zero byte; *output_length receives
// its length without the zero.
char* base64_encode(const unsigned char* data, size_t input_length, size_t* output_length);

#endif
