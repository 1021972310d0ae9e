// Turns every frame crossing the link into two traffic-log lines: its bytes and a reading.
#pragma once

#include <cstddef>
#include <cstdint>

struct CameraLink;

constexpr int kFrameSent = 1;      // "TX"
constexpr int kFrameReceived = 2;  // "RX"

// The two texts of a frame, without time stamps, into buffers of `size` bytes each. `payload`
// is null for frames sent without one (no detail is appended to those); payload bytes at or
// beyond payloadLength count as 0.
void DecodeFrame(const uint8_t* payload, int direction, uint8_t opcode, int payloadLength, char* bytesLine,
                 char* readingLine, size_t size);

// Logs both lines with one time stamp through the log target of `link` (the process-wide
// engine for the overload without one). A received ACK sets the link's status to
// StatusNormal; the ACK of a factory reset also raises the power-cycle notice. Returns 0.
int LogFrame(const uint8_t* payload, int direction, uint8_t opcode, int payloadLength);
int LogFrame(CameraLink* link, const uint8_t* payload, int direction, uint8_t opcode, int payloadLength);
