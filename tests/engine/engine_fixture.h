// The engine end to end against the simulated camera, on an empty fake sysfs tree so that
// the machine's own serial devices never take part.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/link_internal.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "sim/camera_sim.h"
#include "tests/support/recording_target.h"
#include "tests/support/results.h"
#include "tests/support/wait.h"
#include "tests/support/wire.h"

namespace enginetest {

using namespace support;

// The whole connection sequence: 259 exchanges.
constexpr int kConnectDeadline = 60000;
// For a reaction to an event while the safety rescan is set far beyond it (10 s).
constexpr int kPrompt = 2000;

// A 32-bit value, then `size` bytes of `tail`. The payload is little-endian: a value's low
// word is a word request's first word.
inline CameraRequest Request(int32_t type, int32_t value = 0, const void* tail = "", size_t size = 0) {
    CameraRequest request{type, {}};
    std::memcpy(request.payload, &value, sizeof value);
    std::memcpy(request.payload + 4, tail, size);
    return request;
}

// A message typed by hand: its byte count, then the frame.
inline CameraRequest Raw(const Bytes& frame) {
    return Request(REQ_RAW_MESSAGE, static_cast<int32_t>(frame.size()), frame.data(), frame.size());
}

inline CameraRequest Play(const std::string& path) {
    CameraRequest request{REQ_PLAY_SEQUENCE_FILE, {}};
    path.copy(reinterpret_cast<char*>(request.payload), sizeof request.payload);
    return request;
}

// How a request went, in brief: its result, how many it did, and where it stopped.
inline std::string OutcomeText(const Notice& outcome) {
    return Results({{"result", outcome.result}, {"count", outcome.count}, {"index", outcome.index}});
}

// The status line's tooltip.
inline std::string StatusNote(int status = StatusSearching) {
    char note[kLogLineBlockSize];
    DescribeLinkStatus(status, note, sizeof note);
    return note;
}

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kelvra-engine-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::filesystem::create_directories(dir + "/class/tty");
        ClearNamedPorts();
    }

    void TearDown() override {
        StopCameraLink();
        camera.Stop();
        ClearNamedPorts();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // Starts the engine with the log target in place before any port is known, then makes
    // the camera visible to the search.
    void StartEngine(bool recoverLostAck = true, bool withCamera = true) {
        // The target hears the engine from its first line: one set afterwards would race the
        // first search pass, which then starts its episode again for the newcomer.
        const CameraLinkOptions options{.sysfsRoot = dir,
                                        .recoverLostAck = recoverLostAck,
                                        .safetyRescanMs = rescanMs,
                                        .watchDevices = watch,
                                        .logTarget = &target,
                                        .logMessage = kLogMessageNumber,
                                        .briefConnection = brief};
        ASSERT_EQ(StartCameraLinkWith(options), 0);
        ASSERT_EQ(StartCameraLinkWith(options), -1) << "one engine per process";
        if (withCamera) {
            if (!camera.Running()) {
                ASSERT_EQ(camera.Start(dir + "/camera"), 0);
            }
            comNumber = RegisterNamedPort(camera.PortPath().c_str());
            ASSERT_GT(comNumber, 0);
        }
    }

    void Connect(bool recoverLostAck = true) {
        StartEngine(recoverLostAck);
        // Every ACK shows status 6 for a moment: connected is what marks the end, once the last
        // read's ACK is in.
        ASSERT_TRUE(WaitUntil([this] { return Link()->connected.load() == 1; }, kConnectDeadline));
        ASSERT_EQ(GetLinkStatus(), StatusNormal);
        camera.ClearFrames();
        target.Clear();
    }

    std::vector<Bytes> Frames() const {
        std::vector<Bytes> frames;
        for (const sim::RecordedFrame& frame : camera.Frames())
            frames.push_back(frame.bytes);
        return frames;
    }

    bool Seen(uint8_t opcode) const {
        return std::ranges::any_of(Frames(), [&](const Bytes& frame) { return frame[1] == opcode; });
    }

    // Queues `request`, then a status query as a marker (no request type sends one), and
    // returns the frames sent before the marker: what the request sent, and nothing it
    // should not have. Returns once the marker's outcome is in, so the request's is too
    // (into `outcome`) and the next request starts from a quiet link.
    std::vector<Bytes> FramesOf(const CameraRequest& request, Notice* outcome = nullptr) {
        camera.ClearFrames();
        const Bytes markerFrame = Frame(CMD_SYSTEM_STATUS_GET);
        const CameraRequest marker = Raw(markerFrame);
        const size_t before = target.Outcomes().size();
        EXPECT_EQ(EnqueueRequest(&request), 0);
        EXPECT_EQ(EnqueueRequest(&marker), 0);
        EXPECT_TRUE(WaitUntil([&] { return target.Outcomes().size() >= before + 2; }, kGenerous));
        const std::vector<Notice> outcomes = target.Outcomes();
        if (outcome != nullptr && outcomes.size() >= before + 2)
            *outcome = outcomes[before];
        const std::vector<Bytes> frames = Frames();
        const bool marked = !frames.empty() && frames.back() == markerFrame;
        EXPECT_TRUE(marked) << "the marker was not the last frame";
        return marked ? std::vector<Bytes>(frames.begin(), frames.end() - 1) : frames;
    }

    void Enqueue(const std::vector<CameraRequest>& requests) {
        for (const CameraRequest& request : requests)
            EXPECT_EQ(EnqueueRequest(&request), 0);
    }

    // The log's lines without their stamps.
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const std::string& line : target.Lines())
            texts.push_back(WithoutStamp(line));
        return texts;
    }

    bool LogHas(const std::string& text, int timeoutMs = kGenerous) {
        return target.WaitForLine([&](const std::string& line) { return WithoutStamp(line) == text; },
                                  timeoutMs);
    }

    CameraLink* Link() const { return GetCameraLink(); }

    std::string WriteFile(const std::string& name, const std::string& content) const {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    // An entry as the camera last said it, and as it is to be sent (with its mark).
    int CameraValue(int i) const { return Link()->cameraState.cameraValues.entries[i].value.load(); }
    int PendingValue(int i) const { return Link()->cameraState.pendingValues.entries[i].value.load(); }
    int Marked(int i) const { return Link()->cameraState.pendingValues.entries[i].flag.load(); }

    // What the log says when a port is tried, and when it opened.
    static std::string Opening(const std::string& com) { return "     Opening COM" + com + " "; }
    static std::string Polling(const std::string& com) {
        return "     COM" + com + " is open - Polling device";
    }

    std::string dir;
    int rescanMs = 1000;
    bool watch = true;  // CameraLinkOptions::watchDevices for the next start
    sim::SimulatedCamera camera;
    RecordingTarget target;
    int comNumber = 0;
    bool brief = false;  // CameraLinkOptions::briefConnection for the next start
};

}  // namespace enginetest
