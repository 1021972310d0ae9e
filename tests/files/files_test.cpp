// Files a user names: what is not a regular file, or too large, is refused without blocking; a
// write that does not complete leaves the old file as it was.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "files/user_file.h"
#include "tests/support/spawn.h"

namespace {

using support::Slurp;

class UserFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kelvra-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    // What a read of `path` gives: its contents, or why not.
    std::string Read(const std::string& path, long long max = 1 << 20) {
        std::string contents;
        return ReadUserFile(path.c_str(), max, &contents, {reason, sizeof reason}) == 0 ? contents
                                                                                        : std::string(reason);
    }
    int Write(const std::string& path, const std::string& contents) {
        return WriteUserFile(path.c_str(), contents, {reason, sizeof reason});
    }
    std::string dir;
    char reason[512] = {};
};

TEST_F(UserFile, OnlyRegularFilesWithinTheirBoundAreRead) {
    const std::string fifo = dir + "/fifo", big = dir + "/big", good = dir + "/good";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // no writer: a blocking open would never return
    std::filesystem::resize_file((std::ofstream(big), big), 2 << 20);
    std::ofstream(good) << "{}";
    const std::pair<std::string, std::string> cases[] = {
        {good, "{}"},
        {fifo, fifo + " is a pipe, not a regular file"},
        {"/dev/zero", "/dev/zero is a device, not a regular file"},
        {dir, dir + " is a folder, not a regular file"},
        {big, big + " is too large (2097152 bytes; at most 1048576 are read)"},
        {dir + "/none", "cannot open " + dir + "/none: No such file or directory"},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(Read(path), expected);
    EXPECT_EQ(OpenUserFile(fifo.c_str(), 10, {nullptr, 0}), -2);
}

// A short write (the file size limit stands in for a full disk) leaves the old file whole and no
// partial file beside it; a target that is no regular file is not replaced.
TEST_F(UserFile, AWriteIsWholeOrNotAtAll) {
    const std::string path = dir + "/profile.json", link = dir + "/link.json";
    ASSERT_EQ(Write(path, "old"), 0);
    ::chmod(path.c_str(), 0640);
    std::filesystem::create_symlink(path, link);
    ASSERT_EQ(Write(link, "new"), 0);  // through the link, to its file
    EXPECT_EQ(Slurp(path), "new");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::owner_write |
                                                               std::filesystem::perms::group_read);

    rlimit limit{}, small{4096, 4096};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const int result = Write(path, std::string(20000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(std::string(reason),
              "cannot write " + path + ": File too large (the file there is left as it was)");
    EXPECT_EQ(Slurp(path), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2) << "a partial file was left";

    // Never a device: as root the rename would replace it. A pipe stands in for one here.
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& target : {fifo, dir}) {
        EXPECT_EQ(Write(target, "x"), -1);
        EXPECT_NE(std::string(reason).find("it is not replaced by a file"), std::string::npos) << reason;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

}  // namespace
