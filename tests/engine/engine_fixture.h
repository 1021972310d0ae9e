// The engine end to end against the simulated camera, on an empty fake sysfs tree so that
// the machine's own serial devices never take part.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/camera_link.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "sim/camera_sim.h"
#include "tests/support/recording_target.h"
#include "tests/support/wait.h"
#include "tests/support/wire.h"

namespace enginetest {

using support::Bytes;
using support::Frame;
using support::HexFrames;
using support::kGenerous;
using support::WaitUntil;
using support::Word;
using support::Words;

// The whole connection sequence: 259 exchanges.
constexpr int kConnectDeadline = 60000;

inline CameraRequest Request(int32_t type, int32_t value = 0) {
    CameraRequest request{};
    request.type = type;
    std::memcpy(request.payload, &value, sizeof value);
    return request;
}

inline CameraRequest TwoWords(int32_t type, uint16_t first, uint16_t second) {
    CameraRequest request{};
    request.type = type;
    std::memcpy(request.payload, &first, 2);
    std::memcpy(request.payload + 2, &second, 2);
    return request;
}

class EngineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool initialised = false;
        if (!initialised) {
            InitializePortTableLock();
            initialised = true;
        }
    }

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
        CameraLinkOptions options;
        options.sysfsRoot = dir;
        options.recoverLostAck = recoverLostAck;
        ASSERT_EQ(StartCameraLinkWith(options), 0);
        SetLogTarget(&target, kLogMessageNumber);
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
        // Every ACK shows status 6 for a moment: connected is what marks the end.
        ASSERT_TRUE(WaitUntil([this] { return Link()->connected.load() == 1; }, kConnectDeadline));
        ASSERT_EQ(GetLinkStatus(), StatusNormal);
        ASSERT_TRUE(camera.WaitForFrames(4 + kReadableParameterCount, kGenerous));
        // The last read's ACK has arrived: nothing of the sequence is still on its way.
        ASSERT_TRUE(WaitUntil([] { return GetCameraLink()->awaitingAck.load() == 0; }, kGenerous));
        camera.ClearFrames();
        target.Clear();
    }

    std::vector<Bytes> Frames() const {
        std::vector<Bytes> frames;
        for (const sim::RecordedFrame& frame : camera.Frames()) {
            frames.push_back(frame.bytes);
        }
        return frames;
    }

    // Queues `request`, then a status query as a marker (no request type sends one), and
    // returns the frames sent before the marker: what the request sent, and nothing it
    // should not have.
    std::vector<Bytes> FramesOf(const CameraRequest& request) {
        camera.ClearFrames();
        const Bytes markerFrame = Frame(CMD_SYSTEM_STATUS_GET);
        CameraRequest marker{};
        marker.type = REQ_RAW_MESSAGE;
        const int32_t count = static_cast<int32_t>(markerFrame.size());
        std::memcpy(marker.payload, &count, sizeof count);
        std::memcpy(marker.payload + 4, markerFrame.data(), markerFrame.size());
        EXPECT_EQ(EnqueueRequest(&request), 0);
        EXPECT_EQ(EnqueueRequest(&marker), 0);
        EXPECT_TRUE(WaitUntil(
            [&] {
                const auto frames = Frames();
                return !frames.empty() && frames.back() == markerFrame;
            },
            kGenerous));
        std::vector<Bytes> frames = Frames();
        if (!frames.empty()) {
            frames.pop_back();
        }
        // Let the marker's ACK in, so the next request starts from a quiet link.
        EXPECT_TRUE(WaitUntil([] { return GetCameraLink()->awaitingAck.load() == 0; }, kGenerous));
        return frames;
    }

    bool LogHas(const std::string& text, int timeoutMs = kGenerous) {
        return target.WaitForLine([&](const std::string& line) { return WithoutStamp(line) == text; },
                                  timeoutMs);
    }

    CameraLink* Link() const { return GetCameraLink(); }

    std::string dir;
    sim::SimulatedCamera camera;
    RecordingTarget target;
    int comNumber = 0;
};

}  // namespace enginetest
