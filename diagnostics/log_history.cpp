#include "diagnostics/log_history.h"

#include <cstring>

LogHistory::LogHistory() : slots_(kSlotCount) {}

void LogHistory::Clear() {
    for (Slot& slot : slots_) {
        slot.used = false;
        std::string().swap(slot.text);  // the memory goes too
    }
    next_ = 0;
}

void LogHistory::Store(const char* block) {
    if (block == nullptr) {
        return;
    }
    Slot& slot = slots_[static_cast<size_t>(next_)];
    slot.used = true;
    slot.text.assign(block, strnlen(block, kLogLineMaxText));
    // A long line that gives way to a short one gives its memory back.
    if (slot.text.capacity() > 2 * slot.text.size() + 64) {
        slot.text.shrink_to_fit();
    }
    next_ = next_ + 1 == kSlotCount ? 0 : next_ + 1;
}

bool LogHistory::Used(int slot) const {
    return slot >= 0 && slot < kSlotCount && slots_[static_cast<size_t>(slot)].used;
}

const char* LogHistory::Text(int slot) const {
    return Used(slot) ? slots_[static_cast<size_t>(slot)].text.c_str() : "";
}

int LogHistory::Replay(const std::function<bool(const char* text)>& deliver) const {
    int delivered = 0;
    for (int slot = next_ + 1 == kSlotCount ? 0 : next_ + 1; slot != next_;
         slot = slot + 1 == kSlotCount ? 0 : slot + 1) {
        const Slot& kept = slots_[static_cast<size_t>(slot)];
        if (!kept.used) {
            continue;
        }
        if (deliver(kept.text.c_str())) {
            ++delivered;
        }
    }
    return delivered;
}
