#include "diagnostics/typed_message.h"

#include "protocol/framing.h"

namespace {

int Nibble(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

void SkipBlanks(std::string_view& text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
}

}  // namespace

int ParseTypedMessage(std::string_view text, bool prependStartByte, bool appendChecksum,
                      uint8_t (&out)[kTypedMessageMaxLength]) {
    if (text.size() > kTypedMessageTextLimit)
        text = text.substr(0, kTypedMessageTextLimit);
    int count = 0;
    if (prependStartByte)
        out[count++] = kFrameStartByte;
    SkipBlanks(text);
    while (!text.empty() && count < kTypedMessageByteLimit) {
        if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            text.remove_prefix(2);
            SkipBlanks(text);
        }
        const int high = text.size() > 0 ? Nibble(text[0]) : 0;
        const int low = text.size() > 1 ? Nibble(text[1]) : 0;
        text.remove_prefix(text.size() < 2 ? text.size() : 2);
        SkipBlanks(text);
        out[count++] = static_cast<uint8_t>(high * 16 + low);
    }
    if (appendChecksum) {
        const uint8_t sum = FrameChecksum(out, count);
        out[count++] = sum;
    }
    return count;
}
