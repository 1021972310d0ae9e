// The result codes of the serial class and the errno values they stand for.
#pragma once

#include <cstdint>

// Result codes the class produces itself. Other non-zero results are errno values.
constexpr int32_t kErrorSuccess = 0;
constexpr int32_t kErrorInvalidFunction = 1;        // timed or overlapped wait without a wait event
constexpr int32_t kErrorInvalidHandle = 6;          // port not open
constexpr int32_t kErrorGenFailure = 31;            // device has gone
constexpr int32_t kErrorDeviceNotConnected = 1167;  // device has gone
constexpr int32_t kErrorAlreadyInitialized = 1247;  // Open on an open port
constexpr int32_t kErrorTimeout = 1460;             // write, wait or read ran out of time
constexpr int32_t kErrorInvalidArg = static_cast<int32_t>(0x80070057u);  // undefined mode

// Maps errno onto the class's codes: EBADF 6; EIO, ENXIO, ENODEV 1167; ETIMEDOUT 1460;
// anything else stays as it is.
int32_t MapErrno(int error);
