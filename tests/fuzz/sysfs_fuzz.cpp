// Whatever a USB device's attributes hold (ids, serial, product), the device scan stores the
// ids read as hexadecimal and the COM number of its node, never one a product name suggests.
#include <stdlib.h>
#include <algorithm>

#include <filesystem>
#include <fstream>
#include <string>

#include "discovery/discovery.h"
#include "tests/discovery/fake_sysfs.h"

namespace {

uint32_t Hex(const std::string& text) {
    uint32_t value = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            break;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One tree for the whole run, removed at exit.
    static FakeSysfs tree;
    static const bool made = (tree.AddConverterTty("ttyUSB3", FakeSysfs::Usb{}), true);
    (void)made;
    static DeviceTable* table = CreateDeviceTable();
    // Four attributes, separated by a zero byte.
    std::string fields[4];
    int field = 0;
    for (size_t i = 0; i < size && field < 4; ++i)
        if (data[i] == 0)
            ++field;
        else if (data[i] != '\n' && data[i] != '\r')
            fields[field] += static_cast<char>(data[i]);
    // An attribute is read in one go of at most 511 bytes.
    for (std::string& text : fields)
        text.resize(std::min<size_t>(text.size(), 511));
    const std::string device = tree.root() + "/devices/pci0000:00/0000:00:14.0/usb1/1-2";
    std::ofstream(device + "/idVendor") << fields[0] << "\n";
    std::ofstream(device + "/idProduct") << fields[1] << "\n";
    std::ofstream(device + "/serial") << fields[2] << "\n";
    std::ofstream(device + "/product") << fields[3] << "\n";
    ScanAllDevicesUnder(tree.root().c_str(), table);
    if (fields[0].empty() || fields[1].empty())
        return 0;  // an unreadable id drops the device
    if (table->count != 1 || table->records[0].comNumber != 4 ||
        table->records[0].vendorId != (Hex(fields[0]) & 0xFFFF) ||
        table->records[0].productId != (Hex(fields[1]) & 0xFFFF))
        __builtin_trap();
    return 0;
}
