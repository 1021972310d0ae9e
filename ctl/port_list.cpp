#include "ctl/port_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <memory>

#include "discovery/discovery.h"
#include "serial/com_names.h"
#include "serial/port_table.h"

namespace {

bool Accepted(uint32_t vendorId, uint32_t productId) {
    for (const AcceptedId* id = AcceptedIds; id->vendorId != 0 && id->productId != 0; ++id)
        if (id->vendorId == vendorId && id->productId == productId)
            return true;
    return false;
}

}  // namespace

std::vector<PortInfo> ListPorts(const QString& sysfsRoot) {
    std::vector<PortInfo> ports;
    std::unique_ptr<DeviceTable, void (*)(DeviceTable*)> table(CreateDeviceTable(), ReleaseDeviceTable);
    if (table == nullptr)
        return ports;
    ScanAllDevicesUnder(sysfsRoot.isEmpty() ? "/sys" : sysfsRoot.toLocal8Bit().constData(), table.get());
    for (int i = 0; i < table->count; ++i) {
        const DeviceRecord& record = table->records[i];
        if (record.inUse == 0)
            continue;
        PortInfo port{};
        port.comNumber = record.comNumber;
        char path[kMaxDevicePath];
        if (DevicePathForCom(record.comNumber, path, sizeof path) == 0)
            port.device = QString::fromLocal8Bit(path);
        port.vendorId = record.vendorId;
        port.productId = record.productId;
        const QString instance = QString::fromLatin1(record.instanceId);
        port.serial = instance.section(QLatin1Char('\\'), 2);
        const QString friendly = QString::fromLatin1(record.friendlyName);
        port.product = friendly.left(friendly.lastIndexOf(QLatin1String(" (COM")));
        port.named = record.comNumber >= kFirstNamedComNumber;
        port.cameraBridge = Accepted(record.vendorId, record.productId);
        port.inUse = !port.device.isEmpty() && DeviceLocked(port.device);
        port.mayOpen = !port.device.isEmpty() && ::faccessat(AT_FDCWD, port.device.toLocal8Bit().constData(),
                                                             R_OK | W_OK, AT_EACCESS) == 0;
        ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return a.comNumber < b.comNumber; });
    return ports;
}

bool DeviceLocked(const QString& device) {
    struct stat node {};
    if (::stat(device.toLocal8Bit().constData(), &node) != 0)
        return false;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; waiters carry "->" after the number.
    const QByteArray wanted = QByteArray::number(major(node.st_dev), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(minor(node.st_dev), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(static_cast<qulonglong>(node.st_ino));
    // /proc files report no size: read to the end rather than asking where it is.
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields[1] != "->" && fields[5] == wanted)
            return true;
    }
    return false;
}

QString NotASerialDevice(const QString& path) {
    struct stat node {};
    if (::stat(path.toLocal8Bit().constData(), &node) != 0)
        return QString();
    const char* kind = S_ISREG(node.st_mode)    ? "a regular file"
                       : S_ISDIR(node.st_mode)  ? "a folder"
                       : S_ISFIFO(node.st_mode) ? "a pipe"
                       : S_ISSOCK(node.st_mode) ? "a socket"
                       : S_ISBLK(node.st_mode)  ? "a block device"
                                                : nullptr;
    if (kind != nullptr)
        return QStringLiteral("%1 is %2, not a serial device").arg(path, QLatin1String(kind));
    // The kernel names the driver of each character device major number; terminals' names say so.
    QFile devices(QStringLiteral("/proc/devices"));
    if (!devices.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    bool characters = false;
    for (const QByteArray& line : devices.readAll().split('\n')) {
        if (line.endsWith(':')) {
            characters = line.startsWith("Character");
            continue;
        }
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (!characters || fields.size() != 2 || fields[0].toUInt() != major(node.st_rdev))
            continue;
        if (fields[1].contains("tty") || fields[1] == "pts" || fields[1] == "ptm")
            return QString();
        return QStringLiteral("%1 is a device, but no terminal (its driver is \"%2\"): not a serial device")
            .arg(path, QString::fromLatin1(fields[1]));
    }
    return QString();
}
