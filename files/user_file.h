// Files a user names, read and written one way for every program: an input file is opened
// without blocking and must be a regular file within a size bound; an output file is written
// beside its target and renamed over it only when whole, so a full disk never leaves a stub.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Room for a reason: the longest path Linux opens (4,096 bytes) and the words around it, so a
// long path never cuts off the reason itself.
constexpr size_t kFileReasonRoom = 4096 + 256;

// Where a reason goes: a caller's buffer of `size` bytes, always terminated.
struct FileReason {
    char* text;
    size_t size;
};

// Opens `path` for reading: never blocks (a FIFO or a device is refused before anything is read
// from it), takes regular files only, at most `maxBytes` long. The descriptor (the caller closes
// it), or with why in `reason`: -1 it does not open ("cannot open PATH: ...", errno kept), -2 it is not a
// regular file ("PATH is a pipe, not a regular file"), -3 it is larger than `maxBytes`.
int OpenUserFile(const char* path, long long maxBytes, FileReason reason);

// Reads the whole of such a file into `contents`. 0, or -1 with why in `reason`.
int ReadUserFile(const char* path, long long maxBytes, std::string* contents, FileReason reason);

// Writes `contents` to `path` whole or not at all: into a new file in the same folder, every
// write checked, flushed to the disk, then renamed over `path` (a symbolic link is followed to
// its file). A `path` that exists and is not a regular file (a device, a FIFO, a folder) is
// refused. A file replaced keeps its permissions. 0, or -1 with why in `reason`; the old file,
// if any, is then as it was.
int WriteUserFile(const char* path, std::string_view contents, FileReason reason);

// Whether WriteUserFile would get as far as writing `path` (what is there may be replaced, a new
// file can be made beside it), so that work whose result it takes can be skipped when it could
// not. 0, or -1 with why in `reason`, in WriteUserFile's words.
int CheckUserFileTarget(const char* path, FileReason reason);
