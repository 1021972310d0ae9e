// A log line travelling to a window's thread as an event of type 0x4FA. The event owns the
// line's block; whoever handles the event may take the block over, otherwise the event frees
// it (also when the event is dropped because its receiver has gone).
#pragma once

#include <QEvent>
#include <cstdint>

#include "diagnostics/log_target.h"

inline const QEvent::Type kLogLineEventType = static_cast<QEvent::Type>(kLogMessageNumber);
// The panel's gain/level apply.
inline const QEvent::Type kGainLevelApplyEventType = static_cast<QEvent::Type>(0x5F7);
// A notice from the engine (LogNotice) for the user.
inline const QEvent::Type kNoticeEventType = static_cast<QEvent::Type>(0x5F8);

class LogLineEvent final : public QEvent {
  public:
    LogLineEvent(uintptr_t firstParameter, char* block)
        : QEvent(kLogLineEventType), firstParameter_(firstParameter), block_(block) {}
    ~LogLineEvent() override { FreeLogBlock(block_); }
    LogLineEvent(const LogLineEvent&) = delete;
    LogLineEvent& operator=(const LogLineEvent&) = delete;

    uintptr_t FirstParameter() const { return firstParameter_; }
    const char* Block() const { return block_; }
    // The caller owns the block from now on.
    char* TakeBlock() {
        char* b = block_;
        block_ = nullptr;
        return b;
    }

  private:
    uintptr_t firstParameter_;
    char* block_;
};

class NoticeEvent final : public QEvent {
  public:
    explicit NoticeEvent(const Notice& notice) : QEvent(kNoticeEventType), notice_(notice) {}
    const ::Notice& Details() const { return notice_; }

  private:
    ::Notice notice_;
};
