// The last 5000 log lines, kept by the main window for the diagnostics window's replay. Each
// line is kept at its own length (at most 2999 characters), so the history costs what it holds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "diagnostics/log_target.h"

class LogHistory {
  public:
    static constexpr int kSlotCount = 5000;

    LogHistory();  // every slot empty, next 0
    LogHistory(const LogHistory&) = delete;
    LogHistory& operator=(const LogHistory&) = delete;

    // Empties every slot and starts again at slot 0.
    void Clear();
    // Keeps the line in `block` (up to its terminator, at most kLogLineMaxText characters) in
    // slot `Next()` and advances, wrapping after the last slot so the oldest line is overwritten.
    // A null block does nothing.
    void Store(const char* block);

    int Next() const { return next_; }
    bool Used(int slot) const;
    const char* Text(int slot) const;  // "" for a slot out of range or unused

    // Visits the kept lines oldest first: from the slot after Next() round to the slot before
    // it (Next() itself is not visited), skipping unused slots, so every reader (the window, a
    // saved file) gets the same lines in the same order. `deliver` gets the slot's text
    // (zero-terminated, at most kLogLineMaxText characters); it returns false when it could not
    // take the line (no memory for its copy), and such a line is not counted. The count of
    // delivered lines is returned.
    int Replay(const std::function<bool(const char* text)>& deliver) const;

  private:
    struct Slot {
        bool used = false;
        std::string text;
    };
    std::vector<Slot> slots_;
    int next_ = 0;
};
