// Pseudo-terminal pairs and receive collectors for the serial tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/com_names.h"

namespace serial_test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A pseudo-terminal whose slave side is registered as a named port. The test plays the far
// end on the master side.
class Pty {
  public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            return;
        }
        char name[128] = {};
        if (::ptsname_r(master_, name, sizeof name) != 0) {
            return;
        }
        path_ = name;
        Register();
    }
    ~Pty() { CloseMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Gives the slave a COM number in the named-port range (again after ClearNamedPorts).
    int Register() {
        com_ = RegisterNamedPort(path_.c_str());
        return com_;
    }

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

    // Writes every byte to the master, waiting while its buffer is full.
    bool WriteMaster(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        auto deadline = Clock::now() + 10s;
        while (done < bytes.size() && Clock::now() < deadline) {
            ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
        return done == bytes.size();
    }

    // Reads from the master until `count` bytes have come or `limit` has passed.
    std::vector<uint8_t> ReadMaster(size_t count, std::chrono::milliseconds limit = 10s) {
        std::vector<uint8_t> out;
        auto deadline = Clock::now() + limit;
        uint8_t buffer[4096];
        while (out.size() < count && Clock::now() < deadline) {
            ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - out.size()));
            if (n > 0) {
                out.insert(out.end(), buffer, buffer + n);
                continue;
            }
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 50);
        }
        return out;
    }

    // Reads whatever the master holds until it has been quiet for `quiet`.
    size_t DrainMaster(std::chrono::milliseconds quiet = 300ms) {
        size_t total = 0;
        uint8_t buffer[4096];
        for (;;) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0) {
                return total;
            }
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                return total;
            }
            total += static_cast<size_t>(n);
        }
    }

  private:
    int master_ = -1;
    int com_ = -1;
    std::string path_;
};

// Collects what a port delivers; the tests wait on it with generous deadlines.
class Collector {
  public:
    static int Receive(const uint8_t* bytes, int32_t count, void* self) {
        static_cast<Collector*>(self)->Add(bytes, count);
        return 0;
    }

    void Add(const uint8_t* bytes, int32_t count) {
        std::lock_guard<std::mutex> guard(lock_);
        bytes_.insert(bytes_.end(), bytes, bytes + count);
        ++calls_;
        if (count < 1 || count > 4096) {
            ++badCounts_;
        }
        changed_.notify_all();
    }

    bool WaitFor(size_t count, std::chrono::milliseconds limit = 10s) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return bytes_.size() >= count; });
    }

    std::vector<uint8_t> bytes() {
        std::lock_guard<std::mutex> guard(lock_);
        return bytes_;
    }
    int calls() {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }
    int badCounts() {
        std::lock_guard<std::mutex> guard(lock_);
        return badCounts_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<uint8_t> bytes_;
    int calls_ = 0;
    int badCounts_ = 0;
};

// Polls `condition` until it holds or `limit` passes.
inline bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
    auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Number of threads in this process.
inline int ThreadCount() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return -1;
    }
    char line[256];
    int threads = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "Threads:", 8) == 0) {
            threads = std::atoi(line + 8);
        }
    }
    std::fclose(status);
    return threads;
}

inline std::vector<uint8_t> Pattern(size_t count, uint32_t seed = 1) {
    std::vector<uint8_t> out(count);
    uint32_t x = seed;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

}  // namespace serial_test
