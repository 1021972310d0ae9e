#include "files/user_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Say(FileReason reason, const char* format, ...) __attribute__((format(printf, 2, 3)));

void Say(FileReason reason, const char* format, ...) {
    if (reason.text == nullptr || reason.size == 0) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(reason.text, reason.size, format, arguments);
    va_end(arguments);
}

const char* ErrorText(int error, char* buffer, size_t size) {
    return strerror_r(error, buffer, size);
}

// What a path that is not a regular file is, in a word a user knows.
const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

bool WriteAll(int fd, const char* bytes, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// A new file beside `target`, made with the umask's permissions. The descriptor, or -1.
int CreateBeside(const std::string& target, std::string* temporary) {
    static std::atomic<unsigned> counter{0};
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%ld.%u.part", static_cast<long>(::getpid()),
                      counter.fetch_add(1));
        *temporary = folder + "/." + name + suffix;
        const int fd = ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

void SyncFolderOf(const std::string& target) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

int OpenUserFile(const char* path, long long maxBytes, FileReason reason) {
    char error[256];
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        Say(reason, "cannot open %s: %s", path, ErrorText(errno, error, sizeof error));
        return -1;
    }
    struct stat info {};
    int result = fd;
    if (::fstat(fd, &info) != 0) {
        Say(reason, "cannot open %s: %s", path, ErrorText(errno, error, sizeof error));
        result = -1;
    } else if (!S_ISREG(info.st_mode)) {
        Say(reason, "%s is %s, not a regular file", path, KindOf(info.st_mode));
        result = -2;
    } else if (info.st_size > maxBytes) {
        Say(reason, "%s is too large (%lld bytes; at most %lld are read)", path,
            static_cast<long long>(info.st_size), maxBytes);
        result = -3;
    }
    if (result < 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
    return result;
}

int ReadUserFile(const char* path, long long maxBytes, std::string* contents, FileReason reason) {
    const int fd = OpenUserFile(path, maxBytes, reason);
    if (fd < 0) {
        return -1;
    }
    contents->clear();
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            char error[256];
            Say(reason, "cannot read %s: %s", path, ErrorText(errno, error, sizeof error));
            break;
        }
        if (n == 0) {
            ::close(fd);
            return 0;
        }
        // A file that grows while it is read is held to the same bound.
        if (static_cast<long long>(contents->size()) + n > maxBytes) {
            Say(reason, "%s is too large (more than %lld bytes)", path, maxBytes);
            break;
        }
        contents->append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    contents->clear();
    return -1;
}

namespace {

// A write about to happen: the file `path` stands for (a symbolic link followed), whether it
// exists and its status, and a new file made beside it (`fd`, -1 when there is none).
struct PreparedWrite {
    std::string target;
    std::string temporary;
    struct stat info {};
    bool exists = false;
    int fd = -1;
};

// Fills `write` for `path`: 0, or -1 with why in `reason`.
int PrepareWrite(const char* path, PreparedWrite* write, FileReason reason) {
    char error[256];
    write->target = path;
    struct stat& info = write->info;
    if (::lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* real = ::realpath(path, nullptr)) {
            write->target = real;
            std::free(real);
        }
    }
    write->exists = ::stat(write->target.c_str(), &info) == 0;
    if (!write->exists && errno != ENOENT) {
        Say(reason, "cannot write %s: %s", path, ErrorText(errno, error, sizeof error));
        return -1;
    }
    if (write->exists && !S_ISREG(info.st_mode)) {
        Say(reason, "%s is %s: it is not replaced by a file", path, KindOf(info.st_mode));
        return -1;
    }
    write->fd = CreateBeside(write->target, &write->temporary);
    if (write->fd < 0) {
        Say(reason, "cannot write %s: %s", path, ErrorText(errno, error, sizeof error));
        return -1;
    }
    return 0;
}

}  // namespace

int CheckUserFileTarget(const char* path, FileReason reason) {
    PreparedWrite write;
    if (PrepareWrite(path, &write, reason) != 0)
        return -1;
    ::close(write.fd);
    ::unlink(write.temporary.c_str());
    return 0;
}

int WriteUserFile(const char* path, std::string_view contents, FileReason reason) {
    char error[256];
    PreparedWrite write;
    if (PrepareWrite(path, &write, reason) != 0)
        return -1;
    const std::string& target = write.target;
    const std::string& temporary = write.temporary;
    const struct stat& info = write.info;
    const bool exists = write.exists;
    const int fd = write.fd;
    if (exists) {
        if (::fchown(fd, info.st_uid, info.st_gid) != 0) {
            // Only root may give a file away: the new file stays its writer's, with the old modes.
        }
        (void)::fchmod(fd, info.st_mode & 07777);
    }
    bool written = WriteAll(fd, contents.data(), contents.size()) && ::fsync(fd) == 0;
    int failure = written ? 0 : errno;
    if (::close(fd) != 0 && written) {
        written = false;
        failure = errno;
    }
    if (written && ::rename(temporary.c_str(), target.c_str()) != 0) {
        written = false;
        failure = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        Say(reason, "cannot write %s: %s%s", path, ErrorText(failure, error, sizeof error),
            exists ? " (the file there is left as it was)" : "");
        return -1;
    }
    SyncFolderOf(target);
    return 0;
}
