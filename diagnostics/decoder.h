// Turns every frame crossing the link into two traffic-log lines: its bytes and a reading.
#pragma once

#include <cstddef>
#include <cstdint>

struct LogSink;

constexpr int kFrameSent = 1;      // "TX"
constexpr int kFrameReceived = 2;  // "RX"

// The two texts of a frame, without time stamps, into buffers of `size` bytes each. `payload`
// is null for frames sent without one (no detail is appended to those); payload bytes at or
// beyond payloadLength count as 0.
void DecodeFrame(const uint8_t* payload, int direction, uint8_t opcode, int payloadLength, char* bytesLine,
                 char* readingLine, size_t size);

// What a logged frame asks of its caller.
constexpr int kFrameAcknowledges = 1;  // a received ACK: the link's communication is normal

// Logs both lines with one time stamp through `sink` (lines are dropped without one). The ACK
// of a factory reset also raises the power-cycle notice, after both lines. Returns the frame's
// effects: kFrameAcknowledges for every received ACK, else 0.
int LogFrame(LogSink* sink, const uint8_t* payload, int direction, uint8_t opcode, int payloadLength);

// LogFrame for a frame sent, its bytes line made of the `wireLength` bytes of `wire` as they were
// written: a message typed by hand shows as it went out, however it is framed.
int LogSentFrame(LogSink* sink, const uint8_t* wire, int wireLength, const uint8_t* payload, uint8_t opcode,
                 int payloadLength);
