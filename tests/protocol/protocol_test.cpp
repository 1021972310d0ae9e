// The wire format, the catalogues and the send routines.
#include <gtest/gtest.h>
#include <poll.h>

#include <functional>
#include <numeric>
#include <set>
#include <string>

#include "protocol/commands.h"
#include "protocol/parameters.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "tests/serial/pty.h"
#include "tests/support/wire.h"

namespace {

using support::Bytes;
using support::Frame;

TEST(Framing, WorkedExamplesAndBounds) {
    EXPECT_EQ(Frame(0x07), (Bytes{0x01, 0x07, 0x00, 0xF8}));
    EXPECT_EQ(Frame(0x27, {0x00, 0x01}), (Bytes{0x01, 0x27, 0x02, 0x00, 0x01, 0xD5}));
    EXPECT_EQ(Frame(0xB0, {0x00, 0x59, 0x00, 0x01}), (Bytes{0x01, 0xB0, 0x04, 0x00, 0x59, 0x00, 0x01, 0xF1}));

    uint8_t payload[253] = {};
    uint8_t buffer[300];
    int length = 0;
    EXPECT_EQ(BuildMessageFrame(buffer, 252, payload, &length, 0x10), 0);
    EXPECT_EQ(length, 256);
    std::fill(std::begin(buffer), std::end(buffer), 0xAA);
    length = 0;
    EXPECT_EQ(BuildMessageFrame(buffer, 253, payload, &length, 0x10), -1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer[0], 0xAA) << "a refused frame writes nothing";
    EXPECT_EQ(BuildMessageFrame(buffer, 2, nullptr, &length, 0x10), -1);
    EXPECT_EQ(BuildMessageFrame(buffer, 0, nullptr, nullptr, 0x10), -1);
    EXPECT_EQ(BuildMessageFrame(buffer, 0, nullptr, &length, 0x10), 0);
    EXPECT_EQ(length, 4);

    uint16_t value = 0;
    const uint8_t word[] = {0x12, 0x34};
    EXPECT_EQ((std::vector<int>{ReadBigEndianWord(word, &value), value, ReadBigEndianWord(nullptr, &value),
                                ReadBigEndianWord(word, nullptr)}),
              (std::vector<int>{0, 0x1234, -1, -1}));
}

// Every byte's result code, and the frame the assembler holds at the end.
struct Assembly {
    const char* name;
    Bytes bytes;
    std::vector<int> results;  // of the last bytes pushed (as many as given)
    bool complete;
    uint8_t opcode = 0;
    Bytes payload = {};
};

TEST(FrameAssembler, ResultsAndFramesByteByByte) {
    Bytes full = Frame(0x41, Bytes(252, 0x5C));
    const Assembly cases[] = {
        {"noise first", {0x55, 0xAA, 0x01, 0x07, 0x00, 0xF8}, {0, 0, 0, 0, 0, 0}, true, 0x07},
        {"bad checksum", {0x01, 0x07, 0x00, 0xF7}, {0, 0, 0, -4}, false},
        {"recovers after it", {0x01, 0x07, 0x00, 0xF7, 0x01, 0x07, 0x00, 0xF8}, {0, 0, 0, 0}, true, 0x07},
        {"length above 252", {0x01, 0x45, 0xFD}, {0, 0, -2}, false},
        {"start byte inside", {0x01, 0x27, 0x02, 0x01, 0x01, 0xD4}, {0}, true, 0x27, {0x01, 0x01}},
        {"longest payload", full, {0}, true, 0x41, Bytes(252, 0x5C)},
        // Length 5 announced, 2 given: the next frame is eaten as payload, the checksum fails.
        {"corrupt length", {0x01, 0x27, 0x05, 0x00, 0x01, 0x01, 0x07, 0x00, 0xF8}, {-4}, false},
        {"noise after a frame keeps it",
         {0x01, 0x02, 0x02, 0x00, 0x2A, 0xD1, 0x55, 0xAA},
         {0, 0},
         true,
         0x02,
         {0x00, 0x2A}},
        {"a new start byte clears it", {0x01, 0x02, 0x02, 0x00, 0x2A, 0xD1, 0x01}, {0}, false},
    };
    for (const Assembly& c : cases) {
        SCOPED_TRACE(c.name);
        FrameAssembler a{};
        std::vector<int> results;
        for (uint8_t b : c.bytes)
            results.push_back(FrameAssembler::PushByte(&a, b));
        EXPECT_EQ(std::vector<int>(results.end() - static_cast<long>(c.results.size()), results.end()),
                  c.results);
        ASSERT_EQ(a.complete, c.complete ? 1 : 0);
        if (c.complete) {
            EXPECT_EQ(a.opcode, c.opcode);
            EXPECT_EQ(Bytes(a.payload, a.payload + a.length), c.payload);
            EXPECT_EQ(a.state, Idle);
        }
    }
    FrameAssembler a{};
    EXPECT_EQ(FrameAssembler::PushByte(nullptr, 0x01), -1);
    // A count beyond the payload area (never reached by well-formed input) refuses the byte.
    a.state = AwaitPayload;
    a.count = kAssemblerPayloadArea;
    a.length = 252;
    EXPECT_EQ(FrameAssembler::PushByte(&a, 0x00), -3);
    EXPECT_EQ(a.state, Idle);
    // A reset in the middle of a frame starts over.
    for (uint8_t b : {0x01, 0x27, 0x02, 0x00})
        FrameAssembler::PushByte(&a, b);
    ResetFrameAssembler(&a);
    EXPECT_EQ(a.state, Idle);
    EXPECT_EQ(a.count, 0);
}

// A dropped frame's bytes are looked at again from the one after its start byte, and a quiet line
// ends a half-received frame the same way: the frame behind a stray start byte is found.
TEST(FrameAssembler, AFrameBehindAStrayStartByteIsFound) {
    const std::tuple<const char*, Bytes, int, int> cases[] = {
        // ACKs found, and once the line is quiet
        {"clean", {}, 1, 1},
        {"start byte, long length", {0x01, 0x2A, 0xFC}, 0, 1},
        {"start byte, short length", {0x01, 0x07, 0x02}, 1, 1},
        {"lone start byte", {0x01}, 1, 1},
        {"corrupt length", {0x01, 0x27, 0x05, 0x00, 0x01}, 1, 1},
    };
    const FrameSink count = [](const FrameAssembler& f, void* found) {
        *static_cast<int*>(found) += f.opcode == 0x02 && f.length == 2 && f.payload[1] == 0xB5;
    };
    for (const auto& [name, stray, foundFirst, afterQuiet] : cases) {
        SCOPED_TRACE(name);
        FrameAssembler a{};
        int found = 0, dropped = 0;
        Bytes bytes = stray;
        const Bytes ack = Frame(0x02, {0x00, 0xB5});
        bytes.insert(bytes.end(), ack.begin(), ack.end());
        for (uint8_t b : bytes)
            dropped += ReceiveByte(&a, b, count, &found);
        EXPECT_EQ(found, foundFirst);
        dropped += DropPartialFrame(&a, count, &found);
        EXPECT_EQ((std::vector<int>{found, dropped > 0, static_cast<int>(a.state)}),
                  (std::vector<int>{afterQuiet, !stray.empty(), Idle}));
    }
}

TEST(Catalogue, NamesKeepTheirExactTextsAndEveryCodeHasOne) {
    EXPECT_STREQ(CommandName(0x07), "System Version Get Command Message");
    EXPECT_STREQ(CommandName(0xCC), "enable Colorization Command Message");
    EXPECT_STREQ(CommandName(0xFF), "Verbose Mode Toggle Command Message");
    EXPECT_STREQ(ResponseName(0xF2), "System Status Reesponse Message");
    EXPECT_STREQ(CommandName(0xF2), "System Status Get Command Message");
    EXPECT_STREQ(ResponseName(0x74), "Data Transfer Setup Response Message");
    EXPECT_STREQ(ParameterName(0x09), "AGC_GAIN_FLATTEN_OFFSET");
    EXPECT_STREQ(ParameterName(0x4C), "YUV Output (Superframe) Enable");
    EXPECT_STREQ(ParameterName(0x1B9), "Spatial NR Param A") << "only the low 8 bits count";
    for (unsigned unknown : {0x00u, 0x08u, unsigned{CMD_LENS_CALIBRATION_CONTROL}})
        EXPECT_STREQ(CommandName(static_cast<uint8_t>(unknown)), "Unknown Command Message");
    EXPECT_STREQ(ResponseName(0x01), "Unknown Response Message");
    for (unsigned unknown : {0x00u, 0x0Au, 0x5Bu, 0xFFu})
        EXPECT_STREQ(ParameterName(unknown), "Unknown Parameter");
    // Each table whole: the number of named codes, each name used once and of its kind.
    const auto names = [](auto nameOf, const char* unknown, const char* ending) {
        std::set<std::string> seen;
        for (unsigned code = 0; code < 256; ++code) {
            const std::string name = nameOf(code);
            if (name == unknown)
                continue;
            EXPECT_TRUE(seen.insert(name).second) << "twice: " << name;
            EXPECT_NE(name.find(ending), std::string::npos) << name;
        }
        return seen.size();
    };
    EXPECT_EQ(names([](unsigned c) { return CommandName(static_cast<uint8_t>(c)); },
                    "Unknown Command Message", " Command Message"),
              59u);
    EXPECT_EQ(names([](unsigned c) { return ResponseName(static_cast<uint8_t>(c)); },
                    "Unknown Response Message", " Message"),
              9u);
    EXPECT_EQ(names([](unsigned c) { return ParameterName(c); }, "Unknown Parameter", ""), 59u);
}

// What the sent-frame hook saw.
struct HookCall {
    Bytes frame;
    uint8_t opcode;
    int payloadLength;
    bool payloadGiven;
    Bytes payload;
};
std::vector<HookCall> gCalls;
int gPeekFd = -1;  // a port's far side: the hook notes whether bytes left before it returned
bool gBytesBeforeHook = false;

int RecordingHook(uintptr_t hookValue, const uint8_t* frame, int frameLength, uint8_t opcode,
                  int payloadLength, const uint8_t* payload) {
    EXPECT_EQ(hookValue, 0x5A5A1234u);
    gCalls.push_back({Bytes(frame, frame + frameLength), opcode, payloadLength, payload != nullptr,
                      payload != nullptr ? Bytes(payload, payload + payloadLength) : Bytes{}});
    pollfd far{gPeekFd, POLLIN, 0};
    gBytesBeforeHook = gBytesBeforeHook || (gPeekFd >= 0 && poll(&far, 1, 100) > 0);
    return 0;
}

TEST(SendRoutines, EachFramesItsPayloadForTheHook) {
    struct Case {
        const char* what;
        std::function<int(const CommandChannel*)> send;
        Bytes frame;
        bool payloadGiven = true;
    };
    const uint8_t longPayload[kMaxPayloadLength] = {7, 6, 5};
    const Case cases[] = {
        {"no payload", [](auto c) { return SendCommandNoPayload(c, CMD_SYSTEM_VERSION_GET); }, Frame(0x07),
         false},
        {"empty payload given", [&](auto c) { return SendCommand(c, CMD_STARTUP, longPayload, 0); },
         Frame(0x9E), false},
        {"read 43",
         [](auto c) { return SendCommandWord(c, CMD_GET_NON_VOLATILE_PARAMETERS, 43); },
         {0x01, 0xB5, 0x02, 0x00, 0x2B, 0x1D}},
        {"write 0x59",
         [](auto c) { return SendSetParameter(c, 0x59, 1); },
         {0x01, 0xB0, 0x04, 0x00, 0x59, 0x00, 0x01, 0xF1}},
        {"store",
         [](auto c) { return SendCommandWord(c, CMD_SET_NON_VOLATILE_PARAMETERS, kStoreParametersValue); },
         {0x01, 0xB0, 0x02, 0x00, 0xFF, 0x4E}},
        {"download setup",
         [](auto c) { return SendDownloadSetup(c); },
         {0x01, 0x73, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x1A, 0x00, 0x00, 0x66}},
        {"longest", [&](auto c) { return SendCommand(c, 0x2A, longPayload, kMaxPayloadLength); },
         Frame(0x2A, Bytes(longPayload, longPayload + kMaxPayloadLength))},
    };
    // No port behind the channel: SendToPort refuses key 0 with -1, which is the routines' -1.
    const CommandChannel channel{RecordingHook, 0x5A5A1234u, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gCalls.clear();
        EXPECT_EQ(c.send(&channel), -1);
        ASSERT_EQ(gCalls.size(), 1u);
        EXPECT_EQ(gCalls[0].frame, c.frame);
        EXPECT_EQ(gCalls[0].opcode, c.frame[1]);
        EXPECT_STRNE(CommandName(c.frame[1]), "Unknown Command Message") << "every command sent has a name";
        EXPECT_EQ(gCalls[0].payloadLength, c.frame[2]);
        EXPECT_EQ(gCalls[0].payloadGiven, c.payloadGiven);
        if (c.payloadGiven) {
            EXPECT_EQ(gCalls[0].payload, Bytes(c.frame.begin() + 3, c.frame.end() - 1));
        }
    }
    // Refused before anything is hooked or written.
    gCalls.clear();
    EXPECT_EQ(SendCommandNoPayload(nullptr, 0x07), -1);
    EXPECT_EQ(SendDownloadSetup(nullptr), -1);
    EXPECT_EQ(SendCommand(&channel, 0x2A, nullptr, 2), -1);
    EXPECT_EQ(SendCommand(&channel, 0x2A, longPayload, kMaxPayloadLength + 1), -1);
    EXPECT_EQ(SendCommand(&channel, 0x2A, longPayload, -1), -1);
    EXPECT_EQ(SendRawFrame(&channel, nullptr, 4), -1);
    EXPECT_EQ(SendRawFrame(&channel, longPayload, -1), -1);
    EXPECT_TRUE(gCalls.empty());
}

TEST(SendRoutines, RawFramesAreHandedOnAsGiven) {
    const CommandChannel channel{RecordingHook, 0x5A5A1234u, 0};
    gCalls.clear();
    // A wrong checksum; length byte 5 with 2 payload bytes given, then no length byte, then no
    // opcode (bytes past the frame count 0; raw sends always give their payload area); too long.
    const uint8_t wrong[] = {0x01, 0xB5, 0x02, 0x00, 0x2B, 0x00},
                  truncated[] = {0x01, 0x33, 0x05, 0x00, 0x2B, 0xEE};
    Bytes oversized(257);
    std::iota(oversized.begin(), oversized.end(), 0);
    oversized[2] = 0xFF;
    std::string seen;
    using Raw = std::pair<const uint8_t*, int>;
    for (const auto& [frame, length] : {Raw{wrong, 6}, Raw{truncated, 5}, Raw{truncated, 3},
                                        Raw{truncated, 2}, Raw{truncated, 1}, Raw{oversized.data(), 257}}) {
        SendRawFrame(&channel, frame, length);
        const HookCall& c = gCalls.back();
        seen += support::Hex(Bytes(c.payload.begin(), c.payload.begin() + std::min(c.payloadLength, 6))) +
                "/" + std::to_string(c.opcode) + "/" + std::to_string(c.payloadLength) + "/" +
                std::to_string(c.payloadGiven) + "/" + std::to_string(c.frame.size()) + " ";
    }
    EXPECT_EQ(seen,
              "00 2B /181/2/1/6 00 2B 00 00 00 /51/5/1/5 00 00 00 00 00 /51/5/1/3 /51/0/1/2 /0/0/1/1 "
              "03 04 05 06 07 08 /1/252/1/257 ");
    EXPECT_EQ(gCalls.back().frame, oversized);
}

// Through a real pseudo-terminal: the bytes arrive as built, after the hook has seen them; a
// port that has gone (-99) still counts as sent.
TEST(SendRoutines, BytesReachThePortAfterTheHook) {
    serial_test::Pty pty;
    ASSERT_TRUE(pty.ok());
    const PortKey key = OpenPort(pty.com(), nullptr, [](const uint8_t*, int32_t, void*) { return 0; });
    ASSERT_GT(key, 0);
    CommandChannel channel{RecordingHook, 0x5A5A1234u, key};
    gCalls.clear();
    gBytesBeforeHook = false;
    gPeekFd = pty.master();
    EXPECT_EQ(SendRawFrame(&channel, Frame(0xF2).data(), 4), 0);
    gPeekFd = -1;
    EXPECT_EQ(SendCommandWord(&channel, CMD_GET_NON_VOLATILE_PARAMETERS, 43), 0);
    EXPECT_FALSE(gBytesBeforeHook);
    EXPECT_EQ(pty.Read(10), (Bytes{0x01, 0xF2, 0x00, 0x0D, 0x01, 0xB5, 0x02, 0x00, 0x2B, 0x1D}));
    ClosePort(key);
    EXPECT_EQ(SendCommandNoPayload(&channel, CMD_SHUTDOWN), 0) << "-99 counts as sent";
    ClearNamedPorts();
}

}  // namespace
