// The device watch tells of what may change the device set, and of nothing else.
#include "discovery/device_watch.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "serial/com_names.h"
#include "tests/discovery/fake_sysfs.h"

namespace {

bool Readable(const DeviceWatch* watch, int timeoutMs) {
    pollfd p{DeviceWatchFd(watch), POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

// Woken within two seconds, and the drain tells of a change.
bool Changed(DeviceWatch* watch) {
    return Readable(watch, 2000) && DrainDeviceWatch(watch);
}

TEST(DeviceWatch, HearsTheClassFolderNamedPortsAndTheirFoldersOnly) {
    FakeSysfs sysfs;
    const std::string& root = sysfs.root();
    std::filesystem::create_directories(root + "/ports");
    ClearNamedPorts();
    DeviceWatch* watch = OpenDeviceWatch(root.c_str());
    ASSERT_NE(watch, nullptr);
    DrainDeviceWatch(watch);  // the kick of the clear above
    EXPECT_FALSE(Readable(watch, 50) || DrainDeviceWatch(nullptr)) << "quiet; no watch, no change";

    std::filesystem::create_directory(root + "/class/tty/ttyUSB7");
    EXPECT_TRUE(Changed(watch));
    EXPECT_FALSE(Readable(watch, 50)) << "drained";

    // A port named later is watched from then on, and naming it counts as a change.
    const std::string camera = root + "/ports/camera";
    RegisterNamedPort(camera.c_str());
    EXPECT_TRUE(Changed(watch));
    std::ofstream(root + "/ports/unrelated") << "x";
    ASSERT_TRUE(Readable(watch, 2000)) << "the port's folder is watched";
    EXPECT_FALSE(DrainDeviceWatch(watch)) << "another file in the folder changes nothing";
    std::filesystem::create_symlink("/dev/null", camera);
    EXPECT_TRUE(Changed(watch));

    // In /dev a new tty node is a change and another file is not (where the test may write there).
    const std::string node = "/dev/ttyKelvraWatch" + std::to_string(::getpid());
    const std::string other = "/dev/kelvra-watch-" + std::to_string(::getpid());
    if (std::ofstream(other).good()) {
        ASSERT_TRUE(Readable(watch, 2000));
        EXPECT_FALSE(DrainDeviceWatch(watch)) << "not a tty node";
        std::ofstream{node};
        EXPECT_TRUE(Changed(watch));
        std::filesystem::remove(node);
        std::filesystem::remove(other);
    }
    CloseDeviceWatch(watch);
    ClearNamedPorts();
}

// A port named by a link in a folder that exists only while a device is plugged in (as the
// system's by-id folder): its appearance is heard however many folders are missing, and again
// after the folder has gone or moved away and come back.
TEST(DeviceWatch, HearsANamedPortWhoseFolderComesAndGoes) {
    FakeSysfs sysfs;
    const std::string folder = sysfs.root() + "/serial/by-id";
    const std::string camera = folder + "/usb-bridge-port0";
    ClearNamedPorts();
    RegisterNamedPort(camera.c_str());
    DeviceWatch* watch = OpenDeviceWatch(sysfs.root().c_str());
    ASSERT_NE(watch, nullptr);
    DrainDeviceWatch(watch);

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        std::filesystem::create_directory(sysfs.root() + "/serial");
        std::filesystem::create_directory(folder);
        while (Readable(watch, 50)) {
            DrainDeviceWatch(watch);  // the folders' own appearance
        }
        std::filesystem::create_symlink("/dev/null", camera);
        EXPECT_TRUE(Changed(watch)) << "the link in the new folder";

        // Removed, or moved away with the folders inside it.
        if (round == 0) {
            std::filesystem::remove_all(sysfs.root() + "/serial");
        } else {
            std::filesystem::rename(sysfs.root() + "/serial",
                                    sysfs.root() + "/moved" + std::to_string(round));
        }
        EXPECT_TRUE(Changed(watch)) << "the folder going with its link";
        while (Readable(watch, 50))
            DrainDeviceWatch(watch);
    }
    CloseDeviceWatch(watch);
    ClearNamedPorts();
}

}  // namespace
