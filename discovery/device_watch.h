// Tells when the set of serial devices may have changed, so a device scan is taken again only
// then: tty nodes appearing or going in /dev (and their permissions changing, as udev grants
// access a moment after a node appears), entries of <root>/class/tty, the folders of named
// ports, a port named later, and the kernel's device events where the process may listen to
// them. Everything it watches feeds one descriptor that a caller can poll.
//
// A named port's folder that does not exist yet (a by-id folder while nothing is plugged in) is
// waited for from the nearest folder above it that does, and a folder that goes is waited for
// again. What cannot be watched at all (no inotify, no event socket) is simply not; callers keep
// a slow safety rescan for that. Nothing throws; no Qt.
#pragma once

struct DeviceWatch;

// Null only when not even the descriptor to poll can be made.
DeviceWatch* OpenDeviceWatch(const char* sysfsRoot);
void CloseDeviceWatch(DeviceWatch* watch);

// Readable while something may have changed and has not been drained.
int DeviceWatchFd(const DeviceWatch* watch);

// Reads everything pending without blocking. True when something relevant may have changed;
// the folders of ports named since the last call are watched from now on.
bool DrainDeviceWatch(DeviceWatch* watch);
