// Port discovery: one snapshot of the USB serial devices with their COM numbers, read from
// sysfs below a root directory, and the four questions the link state machine asks of it.
//
// A setup class is a directory under <root>/class. A device of a class is kept when its
// `device` link leads into a USB interface; its record carries the USB device's ids in an
// instance id "USB\VID_vvvv&PID_pppp\<serial>" and its COM number in a friendly name
// "<product> (COMn)", and the numbers are parsed back out of those texts. Ports named on
// the command line (serial/com_names.h) join every snapshot of ScanAllDevices as
// 0403:6001 bridges while their path exists.
//
// Nothing is cached between snapshots. Nothing throws; no Qt.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kDeviceTableSize = 512;
constexpr int kDeviceTextSize = 300;

// Results of ScanDeviceClass.
constexpr int kScanMissingTable = -1;
constexpr int kScanOutOfMemory = -81;
constexpr int kScanListFailed = -82;  // the class exists but could not be listed
constexpr int kScanNoSuchClass = -83;
constexpr int kScanTableFull = -85;  // later devices were dropped

struct AcceptedId {
    uint32_t vendorId;
    uint32_t productId;
};

// Bridges the search may choose: FFFF/FFFF, 0403/6001, 0403/6015, then the end pair 0/0.
// A list ends at the first pair whose vendor or product id is 0. 0xFFFF is no wildcard.
extern const AcceptedId AcceptedIds[];
// Bridges the presence check counts as the camera's: 0403/6001, 0483/374B, then 0/0. With
// AcceptedIds, the bridges the package's udev rule and metadata name (tools/bridge_ids).
extern const AcceptedId CameraPortIds[];

struct DeviceRecord {
    uint8_t inUse;                       // 1 when the slot is filled
    uint32_t vendorId;                   // hex number after "VID_" in instanceId
    uint32_t productId;                  // hex number after "PID_" in instanceId
    char friendlyName[kDeviceTextSize];  // "<product> (COMn)"; at most 299 characters
    char instanceId[kDeviceTextSize];    // "USB\VID_vvvv&PID_pppp\<serial>"; at most 199
    char className[kDeviceTextSize];     // the class the device was found under
    uint8_t classGuid[16];               // stable value derived from className
    uint32_t deviceNode;                 // stable number of the device node
    int32_t comNumber;                   // decimal number after "(COM" in friendlyName, or 0
};

struct DeviceTable {
    const AcceptedId* acceptedIds;  // used by HighestAcceptedPort and NextAcceptedPortAbove
    DeviceRecord records[kDeviceTableSize];
    int32_t count;
    // errno of the last class folder that could not be listed (it is missing, unreadable, or its
    // listing failed part-way); 0 when it was listed. ScanAllDevices sets it for the tty class,
    // so that an empty table is not taken for a machine without bridges.
    int32_t listError;
};

// A zero-filled table with AcceptedIds attached; null when memory is short.
DeviceTable* CreateDeviceTable();
// Releases a table from CreateDeviceTable (null is ignored).
void ReleaseDeviceTable(DeviceTable* table);

// The sysfs root of ScanAllDevices and ScanDeviceClass, "/sys" unless set. Null or ""
// restores "/sys". Thread-safe; a scan already running keeps the root it started with.
void SetDeviceScanRoot(const char* root);
// Copies the current root into `out`; 0, or -1 when it does not fit.
int GetDeviceScanRoot(char* out, size_t size);

// Fills `table` afresh from the serial port class ("tty") and the named ports. 0; -1 for
// a missing table. Failures inside the class are absorbed; a class folder that could not be
// listed leaves its errno in listError.
int ScanAllDevices(DeviceTable* table);
int ScanAllDevicesUnder(const char* root, DeviceTable* table);

// Appends the USB-backed devices of class `className` to `table`. 0; -1 missing table;
// -82 the class could not be listed; -83 no such class (also for names that are not a
// single path component); -85 the table filled up and later devices were dropped.
int ScanDeviceClass(const char* className, DeviceTable* table);
int ScanDeviceClassUnder(const char* root, const char* className, DeviceTable* table);

// Attribute `property` of the sysfs directory `deviceDir` (e.g. "idVendor") as newly
// allocated text without its trailing newline; the caller frees it with std::free. Null
// when absent, unreadable or larger than 1 MiB.
char* GetDeviceProperty(const char* deviceDir, const char* property);

// Largest COM number of an in-use record whose pair is in table->acceptedIds; 0 if none.
// The only query that may answer 512 or more.
int HighestAcceptedPort(const DeviceTable* table);
// Smallest COM number c with n < c < 512 of an in-use record whose pair is in
// table->acceptedIds; 0 if none.
int NextAcceptedPortAbove(const DeviceTable* table, int comNumber);
// Smallest COM number c with 0 < c < 512 of a 0403/6001 record (in-use flag not
// consulted: empty slots hold zeros); 0 if none.
int LowestPrimaryPort(const DeviceTable* table);
// True when an in-use 0403/6001 or 0483/374B record has COM number `comNumber`.
bool IsCameraPortPresent(const DeviceTable* table, int comNumber);
