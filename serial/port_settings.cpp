// CSerial's line format, handshake, event settings and read time-outs, over termios.
#include "serial/serial_port.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

#include "serial/system_calls.h"

namespace {

struct SpeedEntry {
    int32_t rate;
    speed_t speed;
};
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

speed_t SpeedForRate(int32_t rate) {
    for (const auto& entry : kSpeeds) {
        if (entry.rate == rate) {
            return entry.speed;
        }
    }
    return B0;
}

int32_t RateForSpeed(speed_t speed) {
    for (const auto& entry : kSpeeds) {
        if (entry.speed == speed) {
            return entry.rate;
        }
    }
    return 0;
}

// Modem-control and serial-info requests that pseudo-terminals and some bridges do not know.
bool IsUnsupportedIoctl(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOSYS;
}

}  // namespace

void SetFormatFlags(termios* settings, int byteSize, int parity, int stopBits) {
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    settings->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    settings->c_cflag |= kSizes[byteSize - 5];
    switch (parity) {
        case OddParity:
            settings->c_cflag |= PARENB | PARODD;
            break;
        case EvenParity:
            settings->c_cflag |= PARENB;
            break;
        case MarkParity:
            settings->c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case SpaceParity:
            settings->c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (stopBits != OneStopBit) {
        settings->c_cflag |= CSTOPB;
    }
    settings->c_iflag &= ~(IXON | IXOFF | PARMRK | INPCK);
    if (parity != NoParity) {
        settings->c_iflag |= INPCK;
    }
}

int ByteSizeOf(const termios& settings) {
    switch (settings.c_cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

int ParityOf(const termios& settings) {
    if (!(settings.c_iflag & INPCK) || !(settings.c_cflag & PARENB)) {
        return NoParity;
    }
    bool odd = (settings.c_cflag & PARODD) != 0;
    if (settings.c_cflag & CMSPAR) {
        return odd ? MarkParity : SpaceParity;
    }
    return odd ? OddParity : EvenParity;
}

int StopBitsOf(const termios& settings) {
    if (!(settings.c_cflag & CSTOPB)) {
        return OneStopBit;
    }
    return (settings.c_cflag & CSIZE) == CS5 ? OneAndHalfStopBits : TwoStopBits;
}

int32_t CSerial::ApplyTermios(const termios& settings) {
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        return Fail(errno);
    }
    return 0;
}

int32_t CSerial::SetHandshake(int mode) {
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    if (mode < HandshakeOff || mode > HandshakeLinesOff) {
        lastError = kErrorInvalidArg;
        return kErrorInvalidArg;
    }
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return Fail(errno);
    }
    settings.c_cflag &= ~CRTSCTS;
    settings.c_iflag &= ~(IXON | IXOFF);
    if (mode == HandshakeRtsCts) {
        settings.c_cflag |= CRTSCTS;
    } else if (mode == HandshakeXonXoff) {
        settings.c_iflag |= IXON | IXOFF;
    }
    if (int32_t rc = ApplyTermios(settings); rc != 0) {
        return rc;
    }
    // DTR stays asserted except with the lines off; under RTS/CTS the driver owns RTS.
    int lines = mode == HandshakeRtsCts ? TIOCM_DTR : TIOCM_DTR | TIOCM_RTS;
    const unsigned long request = mode == HandshakeLinesOff ? TIOCMBIC : TIOCMBIS;
    if (Sys.modemLines(fd, request, &lines) != 0 && !IsUnsupportedIoctl(errno)) {
        return Fail(errno);
    }
    return 0;
}

int32_t CSerial::SetLineFormat(int32_t baudRate, int byteSize, int parity, int stopBits) {
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    speed_t speed = SpeedForRate(baudRate);
    if (speed == B0 || byteSize < 5 || byteSize > 8 || parity < NoParity || parity > SpaceParity ||
        stopBits < OneStopBit || stopBits > TwoStopBits) {
        return Fail(EINVAL);
    }
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return Fail(errno);
    }
    ::cfsetispeed(&settings, speed);
    ::cfsetospeed(&settings, speed);
    SetFormatFlags(&settings, byteSize, parity, stopBits);
    settings.c_cc[VSTART] = 0x11;
    settings.c_cc[VSTOP] = 0x13;
    if (int32_t rc = ApplyTermios(settings); rc != 0) {
        return rc;
    }
    // tcsetattr succeeds when any part was taken; the rate must have been.
    termios actual{};
    if (::tcgetattr(fd, &actual) != 0) {
        return Fail(errno);
    }
    if (::cfgetospeed(&actual) != speed) {
        return Fail(EINVAL);
    }
    return 0;
}

int32_t CSerial::SetEventChar(uint8_t character, bool addToMask) {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return lastError.load();
    }
    eventChar = character;
    if (addToMask) {
        (void)SetEventMask(GetEventMask() | kEvRxFlag);
    }
    return ApplyTermios(settings);
}

int32_t CSerial::SetEventMask(uint32_t mask) {
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    eventMask = mask;
    return 0;
}

int32_t CSerial::SetReadTimeouts(int mode) {
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    if (mode != 0 && mode != 1) {
        lastError = kErrorInvalidArg;
        return kErrorInvalidArg;
    }
    // Both modes clear the read time-outs; writes have only the wait in Write.
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return Fail(errno);
    }
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return ApplyTermios(settings);
}

bool CSerial::LoadSettings(termios* settings) {
    if (!CheckOpen()) {
        return false;
    }
    if (::tcgetattr(fd, settings) != 0) {
        Fail(errno);
        return false;
    }
    return true;
}

int32_t CSerial::GetBaudRate() {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return -1;
    }
    return RateForSpeed(::cfgetospeed(&settings));
}

int32_t CSerial::GetByteSize() {
    termios settings{};
    return LoadSettings(&settings) ? ByteSizeOf(settings) : -1;
}

int32_t CSerial::GetParity() {
    termios settings{};
    return LoadSettings(&settings) ? ParityOf(settings) : -1;
}

int32_t CSerial::GetStopBits() {
    termios settings{};
    return LoadSettings(&settings) ? StopBitsOf(settings) : -1;
}

int32_t CSerial::GetHandshake() {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return -1;
    }
    // Mode 1 would need DTR in handshake mode as well, which no mode sets (and termios has
    // no DTR flow control), so RTS/CTS reads back as 0.
    if ((settings.c_iflag & IXON) && (settings.c_iflag & IXOFF)) {
        return HandshakeXonXoff;
    }
    return HandshakeOff;
}

uint32_t CSerial::GetEventMask() {
    if (!CheckOpen()) {
        return 0;
    }
    return eventMask;
}

uint8_t CSerial::GetEventChar() {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return 0;
    }
    return eventChar;
}
