// Reading a message typed in hexadecimal, as the diagnostics window and kelvra-ctl send it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

constexpr int kTypedMessageTextLimit = 2999;                        // characters read from the edit field
constexpr int kTypedMessageByteLimit = 256;                         // bytes taken from the text
constexpr int kTypedMessageMaxLength = kTypedMessageByteLimit + 1;  // with a checksum behind

// Whether `text` may be sent, before ParseTypedMessage turns it into bytes: 0 when it may; -1
// with the reason in `reason` (cut to `size`) for an empty text, a character that is neither a
// hexadecimal digit nor a blank (a "0x" before a byte aside), a byte given by one digit, and more
// bytes than a message holds. Those are typing mistakes the parser would turn into bytes.
int CheckTypedMessage(std::string_view text, bool prependStartByte, char* reason, size_t size);

// Whether `bytes` are one well-formed frame: 0 when they are; 1 with what is wrong and what the
// camera may make of it in `remark` (cut to `size`). A malformed message is still sent as typed.
int DescribeFrameProblem(const uint8_t* bytes, int count, char* remark, size_t size);

// Turns `text` into bytes: two characters per byte, high half first; 0-9, A-F and a-f count
// their value and anything else (a blank or the end of the text too) counts 0; "0x" or "0X"
// before a byte is skipped; blanks after each byte are skipped. Nothing is rejected.
// With `prependStartByte` the bytes start with 0x01; with `appendChecksum` the checksum of all
// bytes follows them. Writes into `out` and returns the count (0 to 257).
int ParseTypedMessage(std::string_view text, bool prependStartByte, bool appendChecksum,
                      uint8_t (&out)[kTypedMessageMaxLength]);
