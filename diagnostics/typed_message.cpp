#include "diagnostics/typed_message.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

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

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// printf-style text appended to a caller's buffer, never beyond it.
class Text {
  public:
    Text(char* buffer, size_t size) : buffer_(size > 0 ? buffer : nullptr), size_(size) {
        if (buffer_ != nullptr)
            buffer_[0] = '\0';
    }
    void Append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        said_ = true;
        if (buffer_ == nullptr || used_ + 1 >= size_)
            return;
        va_list arguments;
        va_start(arguments, format);
        const int written = std::vsnprintf(buffer_ + used_, size_ - used_, format, arguments);
        va_end(arguments);
        if (written > 0)
            used_ = std::min(size_ - 1, used_ + static_cast<size_t>(written));
    }
    // The character at a column, as a person reads it.
    void AppendCharacter(char c) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > ' ' && byte < 0x7F)
            Append("\"%c\"", c);
        else
            Append("Byte 0x%02X", byte);
    }
    // Whether anything was said, whether or not it had room.
    bool Empty() const { return !said_; }

  private:
    char* buffer_;
    size_t size_;
    size_t used_ = 0;
    bool said_ = false;
};

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

// Walks the text as ParseTypedMessage does and stops at the first place where the parser would
// make up a digit.
int CheckTypedMessage(std::string_view text, bool prependStartByte, char* reason, size_t size) {
    if (text.size() > kTypedMessageTextLimit)
        text = text.substr(0, kTypedMessageTextLimit);
    Text why(reason, size);
    const size_t length = text.size();
    size_t at = 0;
    const auto skipBlanks = [&] {
        while (at < length && text[at] == ' ')
            ++at;
    };
    skipBlanks();
    if (at == length) {
        why.Append("Nothing to send: type the message in hexadecimal, two digits a byte (01 07 00 F8, say).");
        return -1;
    }
    int count = prependStartByte ? 1 : 0;
    while (at < length) {
        if (text[at] == '0' && at + 1 < length && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
            const size_t prefix = at;
            at += 2;
            skipBlanks();
            if (at == length) {
                why.Append("\"0x\" at column %zu has no digits after it.", prefix + 1);
                return -1;
            }
        }
        for (size_t digit = at; digit < at + 2; ++digit) {
            if (digit == length || text[digit] == ' ') {
                why.Append("The digit at column %zu stands alone: a byte takes two digits (05 or 50, say).",
                           at + 1);
                return -1;
            }
            if (!IsHexDigit(text[digit])) {
                why.AppendCharacter(text[digit]);
                why.Append(" at column %zu is not a hexadecimal digit (0-9, A-F).", digit + 1);
                return -1;
            }
        }
        at += 2;
        skipBlanks();
        if (++count > kTypedMessageByteLimit) {
            why.Append("Too long: a message holds at most %d bytes%s.", kTypedMessageByteLimit,
                       prependStartByte ? ", the start byte included" : "");
            return -1;
        }
    }
    return 0;
}

int DescribeFrameProblem(const uint8_t* bytes, int count, char* remark, size_t size) {
    Text what(remark, size);
    if (bytes == nullptr || count < 4) {
        count = bytes == nullptr ? 0 : std::max(count, 0);
        what.Append(
            "%d byte%s no whole frame (start byte, opcode, length, checksum): the camera may wait "
            "for more",
            count, count == 1 ? " is" : "s are");
        return 1;
    }
    const char* separator = "";
    if (bytes[0] != kFrameStartByte) {
        what.Append("the first byte is %02X, not the start byte 01: the camera skips bytes until it sees one",
                    bytes[0]);
        separator = "; ";
    }
    const int announced = bytes[2];
    const int follow = count - 4;
    if (announced > kMaxPayloadLength) {
        what.Append(
            "%sthe length byte announces %d payload bytes, more than a frame carries (%d): the camera "
            "drops the frame",
            separator, announced, kMaxPayloadLength);
    } else if (announced != follow) {
        what.Append("%sthe length byte announces %d payload bytes, %d follow: %s", separator, announced,
                    follow,
                    announced > follow ? "the camera may wait for more"
                                       : "the camera may take the rest for the next frame");
    } else if (const uint8_t sum = FrameChecksum(bytes, count - 1); bytes[count - 1] != sum) {
        what.Append("%sthe checksum is %02X, the bytes before it need %02X: the camera drops the frame",
                    separator, bytes[count - 1], sum);
    }
    return what.Empty() ? 0 : 1;
}
