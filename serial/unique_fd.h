// An owned file descriptor, closed when the holder goes; private to the serial layer.
#pragma once

#include <unistd.h>

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    // Closes the held descriptor (the result of close(), 0 when none) and takes `fd`.
    int Reset(int fd = -1) {
        int rc = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = fd;
        return rc;
    }

  private:
    int fd_;
};
