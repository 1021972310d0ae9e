// A log target that keeps what it receives, for tests on any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/log_target.h"

class RecordingTarget : public LogTarget {
  public:
    bool PostLogLine(uint32_t message, uintptr_t firstParameter, char* block) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (refuse_)
            return false;
        posts_.emplace_back(message, firstParameter);
        lines_.emplace_back(block);
        FreeLogBlock(block);
        changed_.notify_all();
        return true;
    }

    // Outcomes of requests are kept apart from the notices meant for the user.
    void PostNotice(const Notice& notice) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (notice.kind == LogNotice::RequestDone) {
            outcomes_.push_back(notice);
        } else {
            notices_.push_back(notice.kind);
            linesBeforeNotice_.push_back(lines_.size());
        }
        changed_.notify_all();
    }

    void Refuse(bool refuse) {
        std::lock_guard<std::mutex> lock(mutex_);
        refuse_ = refuse;
    }

    std::vector<std::string> Lines() const { return Copy(lines_); }
    // The message number and first parameter of each line posted.
    std::vector<std::pair<uint32_t, uintptr_t>> Posts() const { return Copy(posts_); }
    std::vector<LogNotice> Notices() const { return Copy(notices_); }
    std::vector<Notice> Outcomes() const { return Copy(outcomes_); }
    std::vector<size_t> LinesBeforeNotice() const { return Copy(linesBeforeNotice_); }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
        posts_.clear();
        notices_.clear();
        outcomes_.clear();
        linesBeforeNotice_.clear();
    }

    // Waits until some line satisfies `match`.
    bool WaitForLine(const std::function<bool(const std::string&)>& match, int timeoutMs) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const std::string& line : lines_) {
                if (match(line))
                    return true;
            }
            return false;
        });
    }

  private:
    template <typename T>
    T Copy(const T& kept) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return kept;
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool refuse_ = false;
    std::vector<std::string> lines_;
    std::vector<std::pair<uint32_t, uintptr_t>> posts_;
    std::vector<LogNotice> notices_;
    std::vector<Notice> outcomes_;
    std::vector<size_t> linesBeforeNotice_;
};

// The text of a line after its "HH:MM:SS.mmm " stamp.
inline std::string WithoutStamp(const std::string& line) {
    return line.size() >= 13 ? line.substr(13) : std::string();
}
