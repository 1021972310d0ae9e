// The serial ports the search would look at, for `kelvra-ctl ports`: the USB serial devices of
// one device scan and the ports named with --port.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

struct PortInfo {
    int comNumber;
    QString device;  // the device node, or the named path
    uint32_t vendorId;
    uint32_t productId;
    QString serial;
    QString product;
    bool cameraBridge;  // a bridge the search chooses
    bool named;         // named with --port
    bool inUse;         // another program holds it locked, as kelvra and kelvra-ctl hold their port
    bool mayOpen;       // this user has read and write permission on the device node
};

// One scan under `sysfsRoot` (empty: /sys), lowest COM number first.
std::vector<PortInfo> ListPorts(const QString& sysfsRoot);

// True when some process holds a lock on the device node (read from /proc/locks): a port that
// is open in kelvra or kelvra-ctl. Opening the port to find out would disturb a free one.
bool DeviceLocked(const QString& device);

// Why `path` cannot be a serial port although it exists (a regular file, a folder, a device that
// is no terminal); "" when it may be one or does not exist (yet). Looks without opening it: opening
// a serial device can pulse its modem lines.
QString NotASerialDevice(const QString& path);
