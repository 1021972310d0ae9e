#include "diagnostics/log_history.h"

#include <cstring>

LogHistory::LogHistory() : slots_(new Slot[kSlotCount]()) {}

void LogHistory::Clear() {
    std::memset(slots_.get(), 0, sizeof(Slot) * kSlotCount);
    next_ = 0;
}

void LogHistory::Store(const char* block) {
    if (block == nullptr) {
        return;
    }
    Slot& slot = slots_[next_];
    slot.used = 1;
    std::memcpy(slot.text, block, kLogLineBlockSize);
    slot.text[kLogLineBlockSize - 1] = '\0';
    next_ = next_ + 1 == kSlotCount ? 0 : next_ + 1;
}

bool LogHistory::Used(int slot) const {
    return slot >= 0 && slot < kSlotCount && slots_[slot].used != 0;
}

const char* LogHistory::Text(int slot) const {
    return slot >= 0 && slot < kSlotCount ? slots_[slot].text : "";
}

int LogHistory::Replay(const std::function<bool(const char* text, bool synchronous)>& deliver) const {
    int delivered = 0;
    for (int slot = next_ + 1 == kSlotCount ? 0 : next_ + 1; slot != next_;
         slot = slot + 1 == kSlotCount ? 0 : slot + 1) {
        if (slots_[slot].used == 0) {
            continue;
        }
        if (deliver(slots_[slot].text, delivered % kSynchronousEvery == 0)) {
            ++delivered;
        }
    }
    return delivered;
}
