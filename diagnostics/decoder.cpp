#include "diagnostics/decoder.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "diagnostics/log_sink.h"
#include "diagnostics/traffic_log.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/parameters.h"

namespace {

// Appends formatted text, never beyond the buffer.
class LineWriter {
  public:
    LineWriter(char* buffer, size_t size) : buffer_(buffer), size_(size) {
        if (size_ > 0) {
            buffer_[0] = '\0';
        }
    }

    void Append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (length_ + 1 >= size_) {
            return;
        }
        va_list arguments;
        va_start(arguments, format);
        const int written = std::vsnprintf(buffer_ + length_, size_ - length_, format, arguments);
        va_end(arguments);
        if (written > 0) {
            length_ += static_cast<size_t>(written);
            if (length_ >= size_) {
                length_ = size_ - 1;
            }
        }
    }

    // Payload bytes as characters; a zero byte ends the visible text.
    void AppendCharacters(const uint8_t* bytes, int count) {
        for (int i = 0; i < count && bytes[i] != 0 && length_ + 1 < size_; ++i) {
            buffer_[length_++] = static_cast<char>(bytes[i]);
            buffer_[length_] = '\0';
        }
    }

  private:
    char* buffer_;
    size_t size_;
    size_t length_ = 0;
};

void AppendSentDetail(LineWriter& line, uint8_t opcode, int payloadLength, int value, int second) {
    switch (opcode) {
        case CMD_AUTO_CAL_PERIOD_SET:
            line.Append(" Auto Calibration Period Set %d (0x%04x)", value, value);
            break;
        case CMD_ICE_STRENGTH:
        case CMD_SET_MANUAL_AGC_GAIN:
        case CMD_SET_MANUAL_AGC_LEVEL:
        case CMD_AGC_GAIN_BIAS_SET:
        case CMD_AGC_LEVEL_BIAS_SET:
            line.Append(" %d (0x%04x)", value, value);
            break;
        case CMD_ICE_MODE_ENABLE:
            line.Append(" %d (0x%04x) - %s", value, value, value != 0 ? "Enabled" : "Disabled");
            break;
        case CMD_FIELD_CALIBRATION:
            line.Append(" Field Calibration %d (0x%04x)", value, value);
            break;
        case CMD_AGC_MODE_SET:
            line.Append(" Mode %d (0x%04x)", value, value);
            break;
        case CMD_HSV_COLORIZATION:
            line.Append(" Color code  %d (0x%04x)", value, value);
            break;
        case CMD_SET_NON_VOLATILE_PARAMETERS:
            line.Append(" The param. index is:0x%04x - %s, and the value is %d (0x%04x)", value,
                        ParameterName(static_cast<unsigned>(value)), second, second);
            break;
        case CMD_GET_NON_VOLATILE_PARAMETERS:
            line.Append(" The param. index is: 0x%04x - %s", value,
                        ParameterName(static_cast<unsigned>(value)));
            break;
        case CMD_YUV_DIGITAL_VIDEO_SOURCE_SELECTION:
            line.Append(" YUV Digital Video Source  %d (0x%04x)", value, value);
            break;
        case CMD_VIDEO_ORIENTATION:
            line.Append(" Video Orientation Select %d (0x%04x)", value, value);
            break;
        case CMD_DIGITAL_VIDEO_SOURCE_SELECTION:
            line.Append(" Digital Video Source  %d (0x%04x)", value, value);
            break;
        default:
            if (payloadLength >= 1) {
                line.Append(" %s", "parameters not decoded yet");
            }
            break;
    }
}

void AppendReceivedDetail(LineWriter& line, const uint8_t* payload, uint8_t opcode, int payloadLength,
                          int value) {
    switch (opcode) {
        case RSP_TEXT:
            line.Append(" ");
            line.AppendCharacters(payload, payloadLength);
            break;
        case RSP_ACK:
            line.Append(" for: %s", CommandName(static_cast<uint8_t>(value & 0xFF)));
            break;
        case RSP_ERROR:
            line.Append(" ");
            if (payloadLength == 2) {
                line.Append("Original command: %d (0x%02x)", value, value);
            } else {
                line.AppendCharacters(payload, payloadLength);
            }
            break;
        case RSP_VALUE:
            line.Append(" The value is: %d (0x%04x)", value, value);
            break;
        case RSP_SYSTEM_STATUS:
            line.Append(" no decode yet for system status response parameters");
            break;
        default:
            line.Append(" %s", "parameters not decoded yet");
            break;
    }
}

// The payload in a zero-padded area, so reads past its length see 0.
struct PaddedPayload {
    uint8_t bytes[kMaxPayloadLength + 4]{};
    int length = 0;

    PaddedPayload(const uint8_t* payload, int payloadLength) {
        length =
            payloadLength < 0 ? 0 : (payloadLength > kMaxPayloadLength ? kMaxPayloadLength : payloadLength);
        if (payload != nullptr && length > 0) {
            std::memcpy(bytes, payload, static_cast<size_t>(length));
        }
    }
    int Word(int at) const { return bytes[at] << 8 | bytes[at + 1]; }
};

}  // namespace

void DecodeFrame(const uint8_t* payload, int direction, uint8_t opcode, int payloadLength, char* bytesLine,
                 char* readingLine, size_t size) {
    const PaddedPayload padded(payload, payloadLength);
    const char* marker = direction == kFrameSent ? "TX" : "RX";

    uint8_t frame[kMaxFrameLength]{};
    int frameLength = 0;
    BuildMessageFrame(frame, padded.length, padded.bytes, &frameLength, opcode);
    LineWriter first(bytesLine, size);
    first.Append("%2s ", marker);
    for (int i = 0; i < frameLength; ++i) {
        first.Append(" 0x%02x", frame[i]);
    }

    LineWriter second(readingLine, size);
    second.Append("%2s ", marker);
    const int value = padded.Word(0);
    if (direction == kFrameSent) {
        second.Append(" %s", CommandName(opcode));
        if (payload != nullptr) {
            AppendSentDetail(second, opcode, padded.length, value, padded.Word(2));
        }
    } else {
        second.Append(" %s", ResponseName(opcode));
        AppendReceivedDetail(second, padded.bytes, opcode, padded.length, value);
    }
}

namespace {

int LogLines(LogSink* sink, const uint8_t* wire, int wireLength, const uint8_t* payload, int direction,
             uint8_t opcode, int payloadLength) {
    const bool acknowledges = direction == kFrameReceived && opcode == RSP_ACK;
    const bool factoryResetAck = acknowledges && PaddedPayload(payload, payloadLength).Word(0) ==
                                                     CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS;
    char bytesLine[kLogLineBlockSize];
    char readingLine[kLogLineBlockSize];
    DecodeFrame(payload, direction, opcode, payloadLength, bytesLine, readingLine, sizeof bytesLine);
    if (wire != nullptr) {
        LineWriter bytes(bytesLine, sizeof bytesLine);
        bytes.Append("%2s ", direction == kFrameSent ? "TX" : "RX");
        for (int i = 0; i < wireLength; ++i)
            bytes.Append(" 0x%02x", wire[i]);
    }
    {
        std::unique_lock<std::mutex> together;
        if (sink != nullptr)
            together = std::unique_lock<std::mutex>(sink->frameLock);
        const LogTime time = CurrentLogTime();
        FormatLogLine(sink, bytesLine, time);
        FormatLogLine(sink, readingLine, time);
    }
    if (factoryResetAck) {
        // Handed to the user interface: the receive path must not wait for the user.
        PostLogNotice(sink, Notice{LogNotice::PowerCycleWarning});
    }
    return acknowledges ? kFrameAcknowledges : 0;
}

}  // namespace

int LogFrame(LogSink* sink, const uint8_t* payload, int direction, uint8_t opcode, int payloadLength) {
    return LogLines(sink, nullptr, 0, payload, direction, opcode, payloadLength);
}

int LogSentFrame(LogSink* sink, const uint8_t* wire, int wireLength, const uint8_t* payload, uint8_t opcode,
                 int payloadLength) {
    return LogLines(sink, wire, wireLength, payload, kFrameSent, opcode, payloadLength);
}
