#include "serial/serial_errors.h"

#include <cerrno>

int32_t MapErrno(int error) {
    switch (error) {
        case EBADF:
            return kErrorInvalidHandle;
        case EIO:
        case ENXIO:
        case ENODEV:
            return kErrorDeviceNotConnected;
        case ETIMEDOUT:
            return kErrorTimeout;
        default:
            return error;
    }
}
