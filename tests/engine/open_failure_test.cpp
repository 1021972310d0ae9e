#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "engine/link_internal.h"

namespace {

std::string Describe(const char* path, int error, int busy = 0) {
    OpenFailure failure{};
    failure.portNumber = 7;
    std::snprintf(failure.devicePath, sizeof failure.devicePath, "%s", path);
    failure.errorNumber = error;
    failure.busy = busy;
    char text[kLogLineBlockSize];
    DescribeOpenFailure(failure, text, sizeof text);
    return text;
}

TEST(OpenFailure, NamesTheDeviceAndWhatToDo) {
    char path[] = "/tmp/kelvra-node-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    struct stat info {};
    ASSERT_EQ(stat(path, &info), 0);
    const group* owner = getgrgid(info.st_gid);
    ASSERT_NE(owner, nullptr);
    const std::string name = owner->gr_name;

    EXPECT_EQ(Describe(path, EACCES), std::string("     No permission to open ") + path +
                                          ": add your user to the group \"" + name + "\" (sudo usermod -aG " +
                                          name + " $USER); the membership takes effect at the next login");
    EXPECT_EQ(Describe("/nonexistent/ttyUSB9", EPERM),
              "     No permission to open /nonexistent/ttyUSB9: ask for read and write access to it");
    EXPECT_EQ(Describe(path, EBUSY, 1),
              std::string("     ") + path + " is in use by another program; the search will try it again");
    EXPECT_EQ(Describe("", ENOENT), "     COM7 has no device node");
    EXPECT_EQ(Describe("/dev/ttyUSB6", ENOENT),
              std::string("     Cannot open /dev/ttyUSB6: ") + std::strerror(ENOENT));
    unlink(path);
}

}  // namespace
