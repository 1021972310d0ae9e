// Reading one parameter so that its value is the camera's answer to that read, whatever the line
// does: lose, corrupt, duplicate or reorder frames, or put stray start bytes between them.
#include "engine/camera_link.h"
#include "engine/link_internal.h"
#include "protocol/parameters.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits until nothing has arrived for kLineQuietMs and no frame is half received (the quiet
// notice has flushed it), so the late replies of an attempt cannot land in the next one.
void SettleLine(CameraLink* link) {
    const auto limit = Clock::now() + std::chrono::milliseconds(kSettleMaxMs);
    while (link->running.load() != 0 && !PortLost(link)) {
        const auto now = Clock::now();
        const Clock::time_point last{Clock::duration(link->lastReceived.load())};
        auto until = last + std::chrono::milliseconds(kLineQuietMs);
        if (link->partialFrame.load() != 0 && until <= now) {
            until = now + std::chrono::milliseconds(1);  // the quiet notice is on its way
        } else if (until <= now) {
            return;
        }
        if (now >= limit) {
            return;
        }
        WaitForWake(link,
                    static_cast<int>(
                        std::chrono::ceil<std::chrono::milliseconds>(std::min(until, limit) - now).count()));
    }
}

}  // namespace

int ReadParameter(CameraLink* link, int index) {
    int timeouts = 0;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        if (attempt > 0) {
            link->readsRetried.fetch_add(1);
            SettleLine(link);
        }
        link->awaitingAck.store(0);
        SendCommandWord(&link->channel, CMD_GET_NON_VOLATILE_PARAMETERS, static_cast<uint16_t>(index));
        const bool acknowledged = WaitForAck(link, kLongAckTimeoutMs) == 0;
        if (link->running.load() == 0 || PortLost(link)) {
            return -2;
        }
        if (acknowledged && link->readValues.load() == 1) {
            return 0;
        }
        timeouts += acknowledged ? 0 : 1;
    }
    if (timeouts == kReadAttempts) {
        return -2;  // not one try acknowledged: the camera does not answer
    }
    ForgetCameraValue(link, index);
    link->valuesUnknown.fetch_add(1);
    LogRemark(link, "     Parameter 0x%04x - %s: no single value came in %d reads; its value is unknown",
              index, ParameterName(static_cast<unsigned>(index)), kReadAttempts);
    return 1;
}
