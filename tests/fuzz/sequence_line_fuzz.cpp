// Any line of a sequence file becomes either nothing or one well-formed frame of at most 256
// bytes whose length byte counts its payload.
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/link_internal.h"
#include "protocol/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A line as the player reads it: at most 1288 characters, zero-terminated.
    std::string line(reinterpret_cast<const char*>(data), std::min<size_t>(size, 1288));
    uint8_t frame[kMaxFrameLength];
    const int length = ParseSequenceLine(line.c_str(), frame);
    if (length == 0)
        return 0;
    if (length < 4 || length > kMaxFrameLength || frame[0] != kFrameStartByte || frame[2] != length - 4)
        __builtin_trap();
    uint8_t sum = 0;
    for (int i = 0; i < length; ++i)
        sum = static_cast<uint8_t>(sum + frame[i]);
    if (sum != 0)
        __builtin_trap();
    return 0;
}
