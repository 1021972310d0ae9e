// The system calls whose failures the serial and discovery layers handle, reached through one
// table so that a test can make any of them fail (EINTR, EAGAIN, EIO) at the moment it chooses.
// Nothing but tests ever changes the table, and only while no port or scan is running.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>

struct SystemCalls {
    ssize_t (*read)(int fd, void* buffer, size_t size);
    ssize_t (*write)(int fd, const void* data, size_t size);
    int (*poll)(pollfd* fds, nfds_t count, int timeoutMs);
    ssize_t (*getdents)(int fd, void* buffer, size_t size);
    int (*modemLines)(int fd, unsigned long request, int* lines);  // TIOCMBIS or TIOCMBIC
};

extern SystemCalls Sys;
