// What the log says when a port does not open: which device, why, and what a user can do.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "engine/link_internal.h"

namespace {

std::string Describe(const char* path, int error, const struct stat* node = nullptr,
                     const char* group = nullptr, int busy = 0) {
    OpenFailure failure{};
    failure.portNumber = 7;
    std::snprintf(failure.devicePath, sizeof failure.devicePath, "%s", path);
    failure.errorNumber = error;
    failure.busy = busy;
    char text[kLogLineBlockSize];
    DescribeOpenFailure(failure, node, group, text, sizeof text);
    return text;
}

struct stat Node(gid_t group, mode_t mode) {
    struct stat node {};
    node.st_gid = group;
    node.st_mode = S_IFCHR | mode;
    return node;
}

TEST(OpenFailure, NamesAGroupOnlyWhenJoiningItWouldHelp) {
    const std::string dialout =
        "     No permission to open /dev/ttyUSB0: add your user to the group \"dialout\" "
        "(sudo usermod -aG dialout $USER); the membership takes effect at the next login";
    const std::string access =
        "     No permission to open /dev/ttyUSB0: your user needs read and write access to "
        "it; install the package's udev rule for the camera's bridges (60-kelvra.rules), or "
        "see \"Access to the serial port\" in the Kelvra User's Guide";
    const struct stat groupReadWrite = Node(20, 0660);
    const struct stat rootOnly = Node(0, 0600);
    const struct stat rootGroup = Node(0, 0660);
    const struct stat groupReadOnly = Node(20, 0640);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, &groupReadWrite, "dialout"), dialout);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EPERM, &groupReadWrite, "dialout"), dialout);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, &rootOnly, "root"), access);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, &rootGroup, "root"), access);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, &groupReadOnly, "dialout"), access);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, &groupReadWrite, nullptr), access) << "a group without a name";
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES), access) << "a node that could not be looked at";
}

TEST(OpenFailure, BusyMissingAndOtherReasons) {
    EXPECT_EQ(Describe("/dev/ttyUSB3", EBUSY, nullptr, nullptr, 1),
              "     /dev/ttyUSB3 is in use by another program; the search will try it again");
    EXPECT_EQ(Describe("", ENOENT), "     COM7 has no device node");
    EXPECT_EQ(Describe("/dev/ttyUSB6", ENOENT),
              std::string("     Cannot open /dev/ttyUSB6: ") + std::strerror(ENOENT));
}

}  // namespace
