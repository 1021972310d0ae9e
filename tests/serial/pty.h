// A pseudo-terminal whose slave is registered as a named port, with the test playing the far
// end on the master; and a collector of what a port delivers.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "serial/com_names.h"
#include "tests/support/wait.h"

namespace serial_test {

using Bytes = std::vector<uint8_t>;

class Pty {
  public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        char name[128] = {};
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
            ::ptsname_r(master_, name, sizeof name) == 0) {
            path_ = name;
            com_ = RegisterNamedPort(name);
        }
    }
    ~Pty() { CloseMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && com_ > 0; }
    int com() const { return com_; }
    const std::string& path() const { return path_; }
    int master() const { return master_; }
    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    // Writes every byte, waiting while the buffer is full.
    bool Write(const Bytes& bytes) {
        size_t done = 0;
        return support::WaitUntil([&] {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            done += n > 0 ? static_cast<size_t>(n) : 0;
            return done == bytes.size();
        });
    }
    // Reads until `count` bytes have come or `timeoutMs` has passed.
    Bytes Read(size_t count, int timeoutMs = support::kGenerous) {
        Bytes out;
        uint8_t buffer[4096];
        support::WaitUntil(
            [&] {
                const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - out.size()));
                out.insert(out.end(), buffer, buffer + std::max<ssize_t>(n, 0));
                return out.size() >= count;
            },
            timeoutMs);
        return out;
    }

  private:
    int master_ = -1;
    int com_ = -1;
    std::string path_;
};

// Every delivery of a port: the bytes in order and the size of each.
class Collector {
  public:
    static int Receive(const uint8_t* bytes, int32_t count, void* self) {
        auto* me = static_cast<Collector*>(self);
        std::lock_guard<std::mutex> guard(me->lock_);
        me->bytes_.insert(me->bytes_.end(), bytes, bytes + count);
        me->sizes_.push_back(count);
        me->changed_.notify_all();
        return 0;
    }
    bool WaitFor(size_t count, int timeoutMs = support::kGenerous) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                 [&] { return bytes_.size() >= count; });
    }
    Bytes bytes() {
        std::lock_guard<std::mutex> guard(lock_);
        return bytes_;
    }
    std::vector<int32_t> sizes() {
        std::lock_guard<std::mutex> guard(lock_);
        return sizes_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    Bytes bytes_;
    std::vector<int32_t> sizes_;
};

// A receiver that stays inside its first delivery until released.
struct Stuck {
    static int Receive(const uint8_t*, int32_t, void* self) {
        auto* me = static_cast<Stuck*>(self);
        me->entered = true;
        support::WaitUntil([&] { return me->release.load(); }, 60000);
        me->left = true;
        return 0;
    }
    std::atomic<bool> entered{false}, release{false}, left{false};
};

inline int ThreadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

inline Bytes Pattern(size_t count, uint32_t seed) {
    Bytes out(count);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return out;
}

}  // namespace serial_test
