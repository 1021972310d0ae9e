// COM numbers <-> device nodes.
//   /dev/ttyUSB<k>          COM k+1     (1..100)
//   /dev/ttyACM<k>          COM k+101   (101..200)
//   other USB serial nodes  COM 201..300, in name order, as the last device scan found them
//   ports named on the command line (--port PATH, --simulate) COM 301, 302, ... in order
// All numbers stay below 512. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kFirstUsbComNumber = 1;
constexpr int kFirstAcmComNumber = 101;
constexpr int kFirstOtherComNumber = 201;
constexpr int kFirstNamedComNumber = 301;
constexpr int kLastComNumber = 511;

// Device node of COM `comNumber` into `path` (room for `size` bytes). 0, or -1 when the
// number maps to nothing or the buffer is too small.
int DevicePathForCom(int comNumber, char* path, size_t size);

// COM number of a device node ("/dev/ttyUSB0", a named port's path, or a bare kernel
// name such as "ttyACM2"); 0 when it has none.
int ComNumberForDevice(const char* path);

// Registers a port by path; returns its COM number. A relative path is made absolute against
// the working folder now (links are not resolved), so a bare "ttyUSB0" names /dev only when
// run from /dev and never takes a kernel node's own number. A path registered before keeps its
// number. -1 when the path is empty, too long (kMaxDevicePath with its terminator), or the
// range is full.
int RegisterNamedPort(const char* path);
// Number of named ports and the path of the i-th (0-based), for the device scan.
int NamedPortCount();
bool NamedPortAt(int i, char* path, size_t size, int* comNumber);
// Forgets every named port (tests).
void ClearNamedPorts();
// Counts every change of the named ports, and an eventfd that becomes readable at each one
// (never drained here: a watcher reads it), so a device watch hears of a port named later.
uint32_t NamedPortsGeneration();
int NamedPortsChangedFd();

// The device scan hands over the kernel names (e.g. "ttyGS0") of USB serial nodes that are
// neither ttyUSB nor ttyACM; they get COM 201.. in name order. Up to 100 are kept.
void SetOtherUsbSerialNodes(const char* const* names, int count);
