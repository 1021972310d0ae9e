// Any text typed in the diagnostics window becomes at most 256 bytes (257 with the checksum),
// starting with 0x01 when asked, and summing to 0 when the checksum is appended.
#include <algorithm>
#include <string_view>

#include "diagnostics/typed_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const bool start = (data[0] & 1) != 0;
    const bool checksum = (data[0] & 2) != 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1),
                                std::min<size_t>(size - 1, kTypedMessageTextLimit));
    uint8_t out[kTypedMessageMaxLength];
    const int count = ParseTypedMessage(text, start, checksum, out);
    if (count < 0 || count > kTypedMessageMaxLength || (!checksum && count > kTypedMessageByteLimit))
        __builtin_trap();
    if (start && (count == 0 || out[0] != 0x01))
        __builtin_trap();
    if (checksum) {
        uint8_t sum = 0;
        for (int i = 0; i < count; ++i)
            sum = static_cast<uint8_t>(sum + out[i]);
        if (count == 0 || sum != 0)
            __builtin_trap();
    }
    return 0;
}
