#include "serial/system_calls.h"

#include <dirent.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int ModemLines(int fd, unsigned long request, int* lines) {
    return ::ioctl(fd, request, lines);
}

}  // namespace

SystemCalls Sys = {::read, ::write, ::poll, ::getdents64, ModemLines};
