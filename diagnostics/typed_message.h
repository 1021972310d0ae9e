// Reading a message typed in hexadecimal, as the diagnostics window and kelvra-ctl send it.
#pragma once

#include <cstdint>
#include <string_view>

constexpr int kTypedMessageTextLimit = 2999;                        // characters read from the edit field
constexpr int kTypedMessageByteLimit = 256;                         // bytes taken from the text
constexpr int kTypedMessageMaxLength = kTypedMessageByteLimit + 1;  // with a checksum behind

// Turns `text` into bytes: two characters per byte, high half first; 0-9, A-F and a-f count
// their value and anything else (a blank or the end of the text too) counts 0; "0x" or "0X"
// before a byte is skipped; blanks after each byte are skipped. Nothing is rejected.
// With `prependStartByte` the bytes start with 0x01; with `appendChecksum` the checksum of all
// bytes follows them. Writes into `out` and returns the count (0 to 257).
int ParseTypedMessage(std::string_view text, bool prependStartByte, bool appendChecksum,
                      uint8_t (&out)[kTypedMessageMaxLength]);
