// The serial and discovery layers' system calls, failing on demand: the next `times` calls of one
// kind on one descriptor (-1: any) fail with `error`; then the real call runs.
#pragma once

#include <dirent.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "serial/system_calls.h"

namespace support {

enum CallKind { kRead, kWrite, kPoll, kGetdents, kModemLines, kCallKinds };
struct CallFault {
    CallKind kind;
    int error;
    int times = 1;
};

class FailingCalls {
  public:
    FailingCalls() : saved_(Sys) { Sys = {&Read, &Write, &Poll, &Getdents, &ModemLines}; }
    ~FailingCalls() { Sys = saved_; }
    static void Arm(int fd, const std::vector<CallFault>& faults) {
        fd_ = fd;
        for (const CallFault& fault : faults) {
            error_[fault.kind] = fault.error;
            left_[fault.kind] = fault.times;
        }
    }
    // The modem lines last asked for: positive when set, negative when cleared.
    static int LastModemLines() { return modemLines_; }

  private:
    static bool Fails(CallKind kind, int fd) {
        const bool fails = (fd_ == -1 || fd == fd_) && left_[kind].fetch_sub(1) > 0;
        errno = fails ? error_[kind].load() : errno;
        return fails;
    }
    static ssize_t Read(int fd, void* b, size_t n) { return Fails(kRead, fd) ? -1 : ::read(fd, b, n); }
    static ssize_t Write(int fd, const void* b, size_t n) {
        return Fails(kWrite, fd) ? -1 : ::write(fd, b, n);
    }
    static int Poll(pollfd* p, nfds_t n, int ms) { return Fails(kPoll, p[0].fd) ? -1 : ::poll(p, n, ms); }
    static ssize_t Getdents(int fd, void* b, size_t n) {
        return Fails(kGetdents, fd) ? -1 : ::getdents64(fd, b, n);
    }
    static int ModemLines(int fd, unsigned long request, int* lines) {
        modemLines_ = request == TIOCMBIC ? -*lines : *lines;
        return Fails(kModemLines, fd) ? -1 : ::ioctl(fd, request, lines);
    }

    SystemCalls saved_;
    static inline std::atomic<int> fd_{-1}, error_[kCallKinds], left_[kCallKinds], modemLines_{0};
};

}  // namespace support
