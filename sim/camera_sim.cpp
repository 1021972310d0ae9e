#include "sim/camera_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <span>
#include <thread>
#include <utility>

#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/parameters.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes put between frames when noise is on. None is 0x01, so a receiver waiting for a
// start byte skips them.
constexpr uint8_t kNoiseBytes[] = {0x55, 0xAA, 0x00, 0xFE, 0x7F, 0x80};

constexpr int kReadChunk = 4096;

// Power-up values of the named parameters; every other index starts at 0.
struct DefaultValue {
    uint8_t index;
    uint16_t value;
};
constexpr DefaultValue kDefaults[] = {
    {PARAM_RS170_MODE_SELECT, 0},  // NTSC
    {PARAM_RS170_INVERT_ENABLE, 0},
    {PARAM_RS170_REVERT_ENABLE, 0},
    {PARAM_RS170_OUTPUT_ENABLE, 1},
    {PARAM_PARALLEL_DIGITAL_OUTPUT_ENABLE, 0},
    {PARAM_CAMERA_LINK_OUTPUT_ENABLE, 0},
    {PARAM_VIDEO_OUTPUT_MUX_SELECT, 9},  // 8-bit grey scale
    {PARAM_AGC_GAIN_LIMIT, 1024},
    {PARAM_AGC_GAIN_FLATTEN_OFFSET, 0},
    {PARAM_AGC_GAIN_UPPER_LOWER_BOUNDS_PERCENT, 10},
    {PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL, 5},  // minutes
    {PARAM_FRAME_RATE, 30},
    {PARAM_GENLOCK_ENABLE, 0},
    {PARAM_GENLOCK_MASTER_ENABLE, 0},
    {PARAM_GENLOCK_DELAY, 0},
    {PARAM_SERIAL_PORT_BAUD_RATE, 7},
    {PARAM_AUTOCAL_ACTIVITY_CONTROL, 1},
    {PARAM_AGC_LIMIT_NOISE_REDUCTION_MODE, 0},
    {PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, 0},  // white hot
    {PARAM_AGC_AUTO_MODE_GAIN_BIAS_AT_POWER_UP, 2048},
    {PARAM_AGC_AUTO_MODE_LEVEL_BIAS_AT_POWER_UP, 2048},
    {PARAM_AGC_MANUAL_MODE_GAIN_AT_POWER_UP, 1500},
    {PARAM_AGC_MANUAL_MODE_LEVEL_AT_POWER_UP, 2500},
    {PARAM_AGC_MODE_AT_POWER_UP, 1},  // automatic
    {PARAM_8_BIT_COLORIZATION_SELECTION, 0},
    {PARAM_ENABLE_COLORIZATION, 0},
    {PARAM_ICE_MODE_ENABLE, 0},
    {PARAM_FRAME_BUFFER_VIDEO_SUSPEND_ACTION, 0},
    {PARAM_VIDEO_SUSPEND_GRAY_VALUE, 128},
    {PARAM_SYMBOLOGY_ENABLE, 1},
    {PARAM_SYMBOLOGY_1_POINT_DISPLAY_INDICATION, 1},
    {PARAM_SYMBOLOGY_ENABLE_ORLAN_LOGO, 1},
    {PARAM_SYMBOLOGY_POLARITY_ENABLE, 1},
    {PARAM_SYMBOLOGY_STARTUP_TIME_DURATION, 5},
    {PARAM_SYMBOLOGY_ZOOM_ENABLE, 1},
    {PARAM_AGC_ROI_STARTING_COLUMN, 0},
    {PARAM_AGC_ROI_STARTING_ROW, 0},
    {PARAM_AGC_ROI_ENDING_COLUMN, 639},
    {PARAM_AGC_ROI_ENDING_ROW, 511},
    {PARAM_LENS_CALIBRATION_ENABLE, 0},
    {PARAM_LENS_CALIBRATION_TABLE_SELECTION, 0},
    {PARAM_ICE_MODE_MIN_MAX_ON, 0},
    {PARAM_SYMBOLOGY_FIELD_CALIBRATION_ENABLE, 1},
    {PARAM_ZOOM_MAGNIFICATION_POWER_ON_VALUE, 1},
    {PARAM_ZOOM_HORIZONTAL_OFFSET_POWER_ON_VALUE, 0},
    {PARAM_ZOOM_VERTICAL_OFFSET_POWER_ON_VALUE, 0},
    {PARAM_ICE_POWER_ON_SLOPE_LIMIT, 16},
    {PARAM_CROSSHAIRS_ENABLE, 0},
    {PARAM_CROSSHAIRS_BORDER_ENABLE, 0},
    {PARAM_CROSSHAIRS_X_LOCATION, 320},
    {PARAM_CROSSHAIRS_Y_LOCATION, 256},
    {PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE, 0},
    {PARAM_ICE_HIGH_FREQUENCY_THRESHOLD, 32},
    {PARAM_FRAME_BUFFER_ENABLE, 1},
    {PARAM_ICE_STRENGTH, 3},
    {PARAM_TEMPORAL_NR_ENABLE, 1},
    {PARAM_TEMPORAL_NR_THRESHOLD, 20},
    {PARAM_SPATIAL_NR_PARAM_A, 142},
    {PARAM_SPATIAL_NR_PARAM_B, 37},
};

constexpr std::array<uint16_t, kParameterCount> MakeDefaults() {
    std::array<uint16_t, kParameterCount> values{};
    for (const DefaultValue& d : kDefaults) {
        values[d.index] = d.value;
    }
    return values;
}
constexpr std::array<uint16_t, kParameterCount> kDefaultValues = MakeDefaults();

// Commands that set one value from a 16-bit payload word, and the parameter the camera keeps
// it in. Orientation and polarity are handled on their own.
struct WordSetting {
    uint8_t opcode;
    uint8_t parameter;
};
constexpr WordSetting kWordSettings[] = {
    {CMD_AUTO_CAL_PERIOD_SET, PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL},
    {CMD_ICE_STRENGTH, PARAM_ICE_STRENGTH},
    {CMD_ICE_HIGH_FREQUENCY_THRESHOLD_SET, PARAM_ICE_HIGH_FREQUENCY_THRESHOLD},
    {CMD_ICE_MODE_MIN_MAX, PARAM_ICE_MODE_MIN_MAX_ON},
    {CMD_ICE_MODE_ENABLE, PARAM_ICE_MODE_ENABLE},
    {CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, PARAM_AUTOCAL_ACTIVITY_CONTROL},
    {CMD_AGC_MODE_SET, PARAM_AGC_MODE_AT_POWER_UP},
    {CMD_SET_MANUAL_AGC_GAIN, PARAM_AGC_MANUAL_MODE_GAIN_AT_POWER_UP},
    {CMD_SET_MANUAL_AGC_LEVEL, PARAM_AGC_MANUAL_MODE_LEVEL_AT_POWER_UP},
    {CMD_HSV_COLORIZATION, PARAM_8_BIT_COLORIZATION_SELECTION},
    {CMD_AGC_GAIN_BIAS_SET, PARAM_AGC_AUTO_MODE_GAIN_BIAS_AT_POWER_UP},
    {CMD_AGC_LEVEL_BIAS_SET, PARAM_AGC_AUTO_MODE_LEVEL_BIAS_AT_POWER_UP},
    {CMD_ENABLE_COLORIZATION, PARAM_ENABLE_COLORIZATION},
    {CMD_8_BIT_COLORIZATION_SELECTION, PARAM_8_BIT_COLORIZATION_SELECTION},
    {CMD_AGC_GAIN_LIMIT_SET, PARAM_AGC_GAIN_LIMIT},
    {CMD_AGC_FLATTEN_OFFSET_SET, PARAM_AGC_GAIN_FLATTEN_OFFSET},
    {CMD_DIGITAL_VIDEO_SOURCE_SELECTION, PARAM_VIDEO_OUTPUT_MUX_SELECT},
};

uint16_t Word(std::span<const uint8_t> payload, size_t at = 0) {
    return static_cast<uint16_t>((payload[at] << 8) | payload[at + 1]);
}

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    text.reserve(count * 3);
    char b[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += b;
    }
    return text;
}

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// A reply waiting to go out. Replies leave in order; one with a later notBefore (a delayed
// ACK) holds back everything behind it, as a busy camera would.
struct Outgoing {
    Clock::time_point notBefore;
    std::vector<uint8_t> bytes;
    bool noise = false;
    bool corrupted = false;
};

enum class DropMode : uint8_t { None, Once, Always };

}  // namespace

static_assert(std::size(SimulatedCamera::kVersionLines) == SimulatedCamera::kVersionLineCount);

struct SimulatedCamera::Impl {
    // The wake-up descriptor lives as long as the object, so SetStalled never races a Stop.
    Impl() : wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    // Serialises Start/Stop/Plug/Unplug; never taken by the serving thread.
    std::mutex lifecycleMutex;

    // Guards everything below it that the serving thread shares with callers.
    mutable std::mutex mutex;
    mutable std::condition_variable framesChanged;
    std::vector<RecordedFrame> frames;
    bool recording = true;
    std::array<uint16_t, kParameterCount> parameters = kDefaultValues;
    std::array<DropMode, 256> drops{};
    std::array<int, 256> delaysMs{};
    std::shared_ptr<const std::function<void(const std::string&)>> printer;
    std::string slavePath;
    std::string linkPath;
    std::string linkTarget;  // what this camera last pointed the link at
    bool started = false;
    bool plugged = false;

    std::atomic<bool> corruptNext{false};
    std::atomic<bool> noise{false};
    std::atomic<bool> stalled{false};
    std::atomic<bool> stopThread{false};
    const UniqueFd wake;

    // Owned by the lifecycle calls; the serving thread only uses them while it runs.
    UniqueFd master;
    UniqueFd ownSlave;
    std::thread thread;

    // Serving thread only.
    FrameAssembler assembler{};
    std::vector<uint8_t> rxFrame;
    std::deque<Outgoing> outgoing;
    size_t headOffset = 0;
    bool masterGone = false;

    int OpenPseudoTerminal();
    int PointLink(const std::string& target);
    // A new pseudo-terminal with the link pointed at its slave; nothing stays open on failure.
    int OpenAndLink();
    void RemoveLink();
    void StartThread();
    void StopThread();
    void Wake();
    void Serve();
    bool ReadMaster();
    bool FlushOutgoing(bool* wantPollOut, int* timeoutMs);
    void OnByte(uint8_t byte, Clock::time_point now);
    void HandleCommand(uint8_t opcode, std::span<const uint8_t> payload);
    void Queue(uint8_t opcode, std::span<const uint8_t> payload, int delayMs = 0);
    void QueueAck(uint8_t opcode);
    void QueueError(uint8_t opcode);
    void Print(const std::string& line);
    bool Printing();
};

int SimulatedCamera::Impl::OpenAndLink() {
    int result = OpenPseudoTerminal();
    if (result == 0) {
        std::string slave;
        {
            std::lock_guard lock(mutex);
            slave = slavePath;
        }
        result = PointLink(slave);
    }
    if (result != 0) {
        master.Reset();
        ownSlave.Reset();
    }
    return result;
}

int SimulatedCamera::Impl::OpenPseudoTerminal() {
    UniqueFd m(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (m.Get() < 0) {
        return -errno;
    }
    if (::grantpt(m.Get()) != 0 || ::unlockpt(m.Get()) != 0) {
        return -errno;
    }
    char name[128];
    if (::ptsname_r(m.Get(), name, sizeof name) != 0) {
        return -errno;
    }
    // Our own descriptor of the slave keeps the pair alive while the program closes and
    // reopens the port, so the master never sees a hang-up in between.
    UniqueFd s(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (s.Get() < 0) {
        return -errno;
    }
    // Raw from the start: the line discipline must not translate or echo anything written
    // before the program has opened and configured the port.
    termios tio{};
    if (::tcgetattr(s.Get(), &tio) != 0) {
        return -errno;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B921600);
    ::cfsetospeed(&tio, B921600);
    if (::tcsetattr(s.Get(), TCSANOW, &tio) != 0) {
        return -errno;
    }
    int flags = ::fcntl(m.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(m.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        return -errno;
    }
    master = std::move(m);
    ownSlave = std::move(s);
    std::lock_guard lock(mutex);
    slavePath = name;
    return 0;
}

int SimulatedCamera::Impl::PointLink(const std::string& target) {
    std::string link;
    {
        std::lock_guard lock(mutex);
        link = linkPath;
    }
    if (link.empty()) {
        return 0;
    }
    // Never replace something that is not a link: the path may be a real file.
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        return -EEXIST;
    }
    // rename() swaps the link in one step, so a program opening the path sees either the
    // old or the new slave, never no link at all.
    std::string temporary = link + ".tmp-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        return -errno;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        return -error;
    }
    std::lock_guard lock(mutex);
    linkTarget = target;
    return 0;
}

void SimulatedCamera::Impl::RemoveLink() {
    std::string link, target;
    {
        std::lock_guard lock(mutex);
        link = linkPath;
        target = linkTarget;
        linkTarget.clear();
    }
    if (link.empty() || target.empty()) {
        return;
    }
    // Only remove the link while it is still ours.
    char current[PATH_MAX];
    ssize_t n = ::readlink(link.c_str(), current, sizeof current - 1);
    if (n >= 0) {
        current[n] = '\0';
        if (target == current) {
            ::unlink(link.c_str());
        }
    }
}

void SimulatedCamera::Impl::Wake() {
    uint64_t one = 1;
    if (wake.Get() >= 0) {
        [[maybe_unused]] ssize_t n = ::write(wake.Get(), &one, sizeof one);
    }
}

void SimulatedCamera::Impl::StartThread() {
    stopThread = false;
    ResetFrameAssembler(&assembler);
    rxFrame.clear();
    outgoing.clear();
    headOffset = 0;
    masterGone = false;
    thread = std::thread([this] { Serve(); });
}

void SimulatedCamera::Impl::StopThread() {
    if (!thread.joinable()) {
        return;
    }
    stopThread = true;
    Wake();
    thread.join();
}

void SimulatedCamera::Impl::Print(const std::string& line) {
    std::shared_ptr<const std::function<void(const std::string&)>> p;
    {
        std::lock_guard lock(mutex);
        p = printer;
    }
    if (p && *p) {
        (*p)(line);
    }
}

bool SimulatedCamera::Impl::Printing() {
    std::lock_guard lock(mutex);
    return printer != nullptr;
}

void SimulatedCamera::Impl::Serve() {
    while (!stopThread.load()) {
        bool wantPollOut = false;
        int timeoutMs = -1;
        if (!masterGone && !FlushOutgoing(&wantPollOut, &timeoutMs)) {
            masterGone = true;
        }
        pollfd fds[2] = {};
        fds[0].fd = wake.Get();
        fds[0].events = POLLIN;
        nfds_t count = 1;
        if (!masterGone) {
            fds[1].fd = master.Get();
            fds[1].events = static_cast<short>((stalled.load() ? 0 : POLLIN) | (wantPollOut ? POLLOUT : 0));
            count = 2;
        }
        int ready = ::poll(fds, count, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t value;
            [[maybe_unused]] ssize_t n = ::read(wake.Get(), &value, sizeof value);
        }
        if (count == 2) {
            short revents = fds[1].revents;
            if ((revents & POLLIN) && !stalled.load()) {
                if (!ReadMaster()) {
                    masterGone = true;
                }
            } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
                // Cannot happen while our own slave descriptor is open; if it does, stop
                // polling the master rather than spin on it.
                masterGone = true;
            }
        }
    }
}

bool SimulatedCamera::Impl::ReadMaster() {
    uint8_t buffer[kReadChunk];
    ssize_t n = ::read(master.Get(), buffer, sizeof buffer);
    if (n < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    if (n == 0) {
        return false;
    }
    Clock::time_point now = Clock::now();
    for (ssize_t i = 0; i < n; ++i) {
        OnByte(buffer[i], now);
    }
    // Answer at once rather than after the next poll.
    bool wantPollOut = false;
    int timeoutMs = -1;
    return FlushOutgoing(&wantPollOut, &timeoutMs);
}

void SimulatedCamera::Impl::OnByte(uint8_t byte, Clock::time_point now) {
    bool inFrame = assembler.state != Idle;
    if (!inFrame && byte != kFrameStartByte) {
        return;  // between frames: skipped, as the program's assembler does
    }
    if (!inFrame) {
        rxFrame.clear();
    }
    rxFrame.push_back(byte);
    int result = FrameAssembler::PushByte(&assembler, byte);
    if (result < 0) {
        if (Printing()) {
            const char* why = result == -4 ? "bad checksum" : "bad length";
            Print("RX  dropped (" + std::string(why) + "): " + Hex(rxFrame.data(), rxFrame.size()));
        }
        rxFrame.clear();
        return;
    }
    if (!assembler.complete) {
        return;
    }
    assembler.complete = 0;
    uint8_t opcode = assembler.opcode;
    std::span<const uint8_t> payload(assembler.payload, assembler.length);
    {
        std::lock_guard lock(mutex);
        if (recording) {
            frames.push_back(RecordedFrame{now, rxFrame});
        }
    }
    framesChanged.notify_all();
    if (Printing()) {
        char head[24];
        std::snprintf(head, sizeof head, "RX  op 0x%02X: ", opcode);
        Print(head + Hex(rxFrame.data(), rxFrame.size()));
    }
    HandleCommand(opcode, payload);
}

void SimulatedCamera::Impl::Queue(uint8_t opcode, std::span<const uint8_t> payload, int delayMs) {
    Clock::time_point when = Clock::now() + std::chrono::milliseconds(delayMs);
    if (noise.load()) {
        outgoing.push_back(Outgoing{
            when, std::vector<uint8_t>(std::begin(kNoiseBytes), std::end(kNoiseBytes)), true, false});
    }
    uint8_t frame[kMaxFrameLength];
    int length = 0;
    if (BuildMessageFrame(frame, static_cast<int>(payload.size()), payload.data(), &length, opcode) != 0) {
        return;
    }
    bool corrupt = corruptNext.exchange(false);
    if (corrupt) {
        frame[length - 1] = static_cast<uint8_t>(frame[length - 1] ^ 0x5A);
    }
    outgoing.push_back(Outgoing{when, std::vector<uint8_t>(frame, frame + length), false, corrupt});
}

void SimulatedCamera::Impl::QueueAck(uint8_t opcode) {
    int delayMs = 0;
    {
        std::lock_guard lock(mutex);
        DropMode& drop = drops[opcode];
        if (drop == DropMode::Always) {
            return;
        }
        if (drop == DropMode::Once) {
            drop = DropMode::None;
            return;
        }
        delayMs = delaysMs[opcode];
    }
    const uint8_t payload[2] = {0x00, opcode};
    Queue(RSP_ACK, payload, delayMs);
}

void SimulatedCamera::Impl::QueueError(uint8_t opcode) {
    const uint8_t payload[2] = {0x00, opcode};
    Queue(RSP_ERROR, payload);
}

void SimulatedCamera::Impl::HandleCommand(uint8_t opcode, std::span<const uint8_t> payload) {
    auto store = [this](int index, uint16_t value) {
        std::lock_guard lock(mutex);
        parameters[static_cast<size_t>(index)] = value;
    };
    auto load = [this](int index) {
        std::lock_guard lock(mutex);
        return parameters[static_cast<size_t>(index)];
    };
    auto sendValue = [this](uint16_t value) {
        const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
        Queue(RSP_VALUE, bytes);
    };

    switch (opcode) {
        case CMD_GET_NON_VOLATILE_PARAMETERS:
            if (payload.size() < 2) {
                QueueError(opcode);
                return;
            }
            // Only the low byte selects the parameter.
            sendValue(load(Word(payload) & 0xFF));
            break;
        case CMD_SET_NON_VOLATILE_PARAMETERS:
            if (payload.size() >= 4) {
                store(Word(payload) & 0xFF, Word(payload, 2));
            } else if (payload.size() != 2 || Word(payload) != kStoreParametersValue) {
                QueueError(opcode);
                return;
            }
            // The 00 FF form commits the values to flash; stored values already persist here.
            break;
        case CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS: {
            std::lock_guard lock(mutex);
            parameters = kDefaultValues;
            break;
        }
        case CMD_SYSTEM_VERSION_GET:
            for (const char* line : kVersionLines) {
                Queue(RSP_TEXT, std::span(reinterpret_cast<const uint8_t*>(line), std::strlen(line)));
            }
            break;
        case CMD_SYSTEM_STATUS_GET: {
            // Ready, detector at 30.00 degrees.
            const uint8_t status[4] = {0x00, 0x01, 0x0B, 0xB8};
            Queue(RSP_SYSTEM_STATUS, status);
            break;
        }
        case CMD_DATA_TRANSFER_DOWNLOAD_SETUP: {
            QueueAck(opcode);
            uint8_t packet[kInfoPacketLength] = {};
            packet[1] = 0x01;  // packet number
            std::memcpy(packet + kPartNumberOffset, kPartNumber,
                        std::min<size_t>(std::strlen(kPartNumber), kIdentityFieldLength));
            std::memcpy(packet + kSerialNumberOffset, kSerialNumber,
                        std::min<size_t>(std::strlen(kSerialNumber), kIdentityFieldLength));
            Queue(RSP_DATA_TRANSFER_DOWNLOAD_PACKET, packet);
            return;
        }
        case CMD_AUTO_CAL_PERIOD_GET:
            sendValue(load(PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL));
            break;
        case CMD_WHITE_HOT_POLARITY_SET:
            store(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, 0);
            break;
        case CMD_BLACK_HOT_POLARITY_SET:
            store(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, 1);
            break;
        case CMD_VIDEO_ORIENTATION:
            if (payload.size() < 2) {
                QueueError(opcode);
                return;
            }
            store(PARAM_RS170_INVERT_ENABLE, Word(payload) & 1);
            store(PARAM_RS170_REVERT_ENABLE, (Word(payload) >> 1) & 1);
            break;
        default:
            for (const WordSetting& setting : kWordSettings) {
                if (setting.opcode == opcode) {
                    if (payload.size() < 2) {
                        QueueError(opcode);
                        return;
                    }
                    store(setting.parameter, Word(payload));
                    break;
                }
            }
            break;
    }
    QueueAck(opcode);
}

bool SimulatedCamera::Impl::FlushOutgoing(bool* wantPollOut, int* timeoutMs) {
    Clock::time_point now = Clock::now();
    while (!outgoing.empty()) {
        Outgoing& head = outgoing.front();
        if (head.notBefore > now) {
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(head.notBefore - now).count();
            *timeoutMs = static_cast<int>(std::clamp<long long>(wait, 1, INT_MAX));
            return true;
        }
        ssize_t n = ::write(master.Get(), head.bytes.data() + headOffset, head.bytes.size() - headOffset);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                *wantPollOut = true;
                return true;
            }
            return false;
        }
        headOffset += static_cast<size_t>(n);
        if (headOffset < head.bytes.size()) {
            continue;
        }
        if (Printing()) {
            if (head.noise) {
                Print("TX  noise: " + Hex(head.bytes.data(), head.bytes.size()));
            } else {
                char text[40];
                std::snprintf(text, sizeof text, "TX  op 0x%02X: ", head.bytes[1]);
                Print(text + Hex(head.bytes.data(), head.bytes.size()) +
                      (head.corrupted ? "  (bad checksum)" : ""));
            }
        }
        outgoing.pop_front();
        headOffset = 0;
    }
    return true;
}

SimulatedCamera::SimulatedCamera() : impl_(std::make_unique<Impl>()) {}

SimulatedCamera::~SimulatedCamera() {
    Stop();
}

int SimulatedCamera::Start(const std::string& linkPath) {
    Impl& d = *impl_;
    std::lock_guard life(d.lifecycleMutex);
    {
        std::lock_guard lock(d.mutex);
        if (d.started) {
            return -EBUSY;
        }
        d.linkPath = linkPath;
    }
    if (d.wake.Get() < 0) {
        return -EMFILE;
    }
    if (int result = d.OpenAndLink(); result != 0) {
        std::lock_guard lock(d.mutex);
        d.slavePath.clear();
        d.linkPath.clear();
        return result;
    }
    {
        std::lock_guard lock(d.mutex);
        d.started = true;
        d.plugged = true;
    }
    d.StartThread();
    return 0;
}

void SimulatedCamera::Stop() {
    Impl& d = *impl_;
    std::lock_guard life(d.lifecycleMutex);
    d.StopThread();
    d.master.Reset();
    d.ownSlave.Reset();
    d.RemoveLink();
    std::lock_guard lock(d.mutex);
    d.started = false;
    d.plugged = false;
}

bool SimulatedCamera::Running() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->started;
}

std::string SimulatedCamera::SlavePath() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->slavePath;
}

std::string SimulatedCamera::PortPath() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->linkPath.empty() ? impl_->slavePath : impl_->linkPath;
}

std::vector<RecordedFrame> SimulatedCamera::Frames() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->frames;
}

size_t SimulatedCamera::FrameCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->frames.size();
}

void SimulatedCamera::SetRecording(bool on) {
    std::lock_guard lock(impl_->mutex);
    impl_->recording = on;
}

void SimulatedCamera::ClearFrames() {
    std::lock_guard lock(impl_->mutex);
    impl_->frames.clear();
}

bool SimulatedCamera::WaitForFrames(size_t count, int timeoutMs) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->framesChanged.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                         [&] { return impl_->frames.size() >= count; });
}

uint16_t SimulatedCamera::Parameter(int index) const {
    if (index < 0 || index >= kParameterCount) {
        return 0;
    }
    std::lock_guard lock(impl_->mutex);
    return impl_->parameters[static_cast<size_t>(index)];
}

void SimulatedCamera::SetParameter(int index, uint16_t value) {
    if (index < 0 || index >= kParameterCount) {
        return;
    }
    std::lock_guard lock(impl_->mutex);
    impl_->parameters[static_cast<size_t>(index)] = value;
}

void SimulatedCamera::RestoreDefaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->parameters = kDefaultValues;
}

uint16_t SimulatedCamera::DefaultParameter(int index) {
    if (index < 0 || index >= kParameterCount) {
        return 0;
    }
    return kDefaultValues[static_cast<size_t>(index)];
}

void SimulatedCamera::DropAck(uint8_t opcode, bool always) {
    std::lock_guard lock(impl_->mutex);
    impl_->drops[opcode] = always ? DropMode::Always : DropMode::Once;
}

void SimulatedCamera::ClearDroppedAcks() {
    std::lock_guard lock(impl_->mutex);
    impl_->drops.fill(DropMode::None);
}

void SimulatedCamera::DelayAck(uint8_t opcode, int delayMs) {
    std::lock_guard lock(impl_->mutex);
    impl_->delaysMs[opcode] = std::max(delayMs, 0);
}

void SimulatedCamera::CorruptNextReply() {
    impl_->corruptNext = true;
}

void SimulatedCamera::SetNoise(bool on) {
    impl_->noise = on;
}

void SimulatedCamera::SetStalled(bool stalled) {
    impl_->stalled = stalled;
    impl_->Wake();
}

int SimulatedCamera::Unplug() {
    Impl& d = *impl_;
    std::lock_guard life(d.lifecycleMutex);
    {
        std::lock_guard lock(d.mutex);
        if (!d.started) {
            return -EINVAL;
        }
        if (!d.plugged) {
            return -EALREADY;
        }
    }
    d.StopThread();
    // Closing the master hangs up the program's descriptor of the slave. The link, if any,
    // is left pointing at a node that no longer works, as a vanished USB device would.
    d.master.Reset();
    d.ownSlave.Reset();
    std::lock_guard lock(d.mutex);
    d.plugged = false;
    return 0;
}

int SimulatedCamera::Plug() {
    Impl& d = *impl_;
    std::lock_guard life(d.lifecycleMutex);
    {
        std::lock_guard lock(d.mutex);
        if (!d.started) {
            return -EINVAL;
        }
        if (d.plugged) {
            return -EALREADY;
        }
    }
    if (int result = d.OpenAndLink(); result != 0) {
        return result;
    }
    {
        std::lock_guard lock(d.mutex);
        d.plugged = true;
    }
    d.StartThread();
    return 0;
}

bool SimulatedCamera::Plugged() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->plugged;
}

void SimulatedCamera::SetTrafficPrinter(std::function<void(const std::string&)> printer) {
    auto shared = printer
                      ? std::make_shared<const std::function<void(const std::string&)>>(std::move(printer))
                      : nullptr;
    std::lock_guard lock(impl_->mutex);
    impl_->printer = std::move(shared);
}

}  // namespace sim
