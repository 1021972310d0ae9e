// The faults of a noisy line, on the camera's replies: frames lost, corrupted, duplicated or
// reordered, junk with stray start bytes before them, on demand or by chance.
#include <algorithm>
#include <iterator>

#include "protocol/commands.h"
#include "sim/camera_impl.h"

namespace sim {

namespace {

bool IsFrame(const Outgoing& o, uint8_t opcode) {
    return !o.noise && o.bytes.size() >= 4 && o.bytes[1] == opcode;
}

// The parameter a read or write names: the low byte of its first word.
int ParameterOf(uint8_t command, std::span<const uint8_t> payload) {
    const bool names =
        command == CMD_GET_NON_VOLATILE_PARAMETERS || command == CMD_SET_NON_VOLATILE_PARAMETERS;
    return names && payload.size() >= 2 ? payload[1] : -1;
}

}  // namespace

void SimulatedCamera::Impl::SpoilAnswer(uint8_t opcode, std::span<const uint8_t> payload, size_t first) {
    using Spoil = SimulatedCamera::Spoil;
    std::vector<Spoil> spoils;
    std::vector<uint8_t> replies;
    LineFaults chances;
    {
        std::lock_guard lock(mutex);
        for (SpoilRule& rule : this->spoils) {
            if (rule.times != 0 && rule.command == opcode &&
                (rule.index < 0 || rule.index == ParameterOf(opcode, payload))) {
                spoils.push_back(rule.spoil);
                replies.push_back(rule.reply);
                rule.times -= rule.times > 0 ? 1 : 0;
            }
        }
        chances = lineFaults;
        if (lineFaultsChanged) {
            random.seed(lineFaults.seed);
            lineFaultsChanged = false;
        }
    }
    auto chance = [this](double p) {
        return p > 0 && std::uniform_real_distribution<double>(0, 1)(random) < p;
    };
    const auto begin = outgoing.begin() + static_cast<std::ptrdiff_t>(first);
    const auto ack =
        std::find_if(begin, outgoing.end(), [](const Outgoing& o) { return IsFrame(o, RSP_ACK); });
    FaultCounts done{};
    // Reordering first, so the other faults touch the frames where they now stand.
    bool ackFirst = std::find(spoils.begin(), spoils.end(), Spoil::AckFirst) != spoils.end();
    if (ack != outgoing.end() && ack != begin && (ackFirst || chance(chances.ackFirst))) {
        std::rotate(begin, ack, ack + 1);
        ++done.reordered;
    }
    for (size_t i = 0; i < spoils.size(); ++i) {
        const auto target =
            std::find_if(outgoing.begin() + static_cast<std::ptrdiff_t>(first), outgoing.end(),
                         [&](const Outgoing& o) { return IsFrame(o, replies[i]); });
        if (target == outgoing.end() || spoils[i] == Spoil::AckFirst) {
            continue;
        }
        if (spoils[i] == Spoil::Lose) {
            outgoing.erase(target);
            ++done.lost;
        } else if (spoils[i] == Spoil::Corrupt) {
            target->bytes[target->bytes.size() - 2] ^= 0x04;  // a payload bit, or the length's
            target->corrupted = true;
            ++done.corrupted;
        } else {
            outgoing.insert(target + 1, Outgoing(*target));
            ++done.duplicated;
        }
    }
    for (size_t i = first; i < outgoing.size(); ++i) {
        if (outgoing[i].noise) {
            continue;
        }
        if (chance(chances.lose)) {
            outgoing.erase(outgoing.begin() + static_cast<std::ptrdiff_t>(i--));
            ++done.lost;
            continue;
        }
        if (chance(chances.corrupt)) {
            std::vector<uint8_t>& bytes = outgoing[i].bytes;
            bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
            outgoing[i].corrupted = true;
            ++done.corrupted;
        }
        if (IsFrame(outgoing[i], RSP_ACK) && chance(chances.duplicateAck)) {
            outgoing.insert(outgoing.begin() + static_cast<std::ptrdiff_t>(i + 1), Outgoing(outgoing[i]));
            ++done.duplicated;
            ++i;
        }
        if (chance(chances.junk)) {
            std::vector<uint8_t> junk = {kFrameStartByte};
            for (unsigned n = 1 + random() % 4; n > 0; --n) {
                junk.push_back(static_cast<uint8_t>(random()));
            }
            outgoing.insert(outgoing.begin() + static_cast<std::ptrdiff_t>(i),
                            Outgoing{outgoing[i].notBefore, std::move(junk), true, false});
            ++done.junk;
            ++i;
        }
    }
    std::lock_guard lock(mutex);
    faultCounts.lost += done.lost;
    faultCounts.corrupted += done.corrupted;
    faultCounts.junk += done.junk;
    faultCounts.duplicated += done.duplicated;
    faultCounts.reordered += done.reordered;
}

void SimulatedCamera::Impl::QueueInjected() {
    std::vector<std::vector<uint8_t>> bytes;
    {
        std::lock_guard lock(mutex);
        bytes.swap(injected);
    }
    for (std::vector<uint8_t>& b : bytes) {
        outgoing.push_back(Outgoing{Clock::now(), std::move(b), true, false});
    }
}

void SimulatedCamera::SpoilReplies(uint8_t command, int index, uint8_t reply, Spoil spoil, int times) {
    std::lock_guard lock(impl_->mutex);
    impl_->spoils.push_back(SpoilRule{command, index, reply, spoil, times});
}

void SimulatedCamera::ClearSpoiledReplies() {
    std::lock_guard lock(impl_->mutex);
    impl_->spoils.clear();
}

void SimulatedCamera::SetLineFaults(const LineFaults& faults) {
    std::lock_guard lock(impl_->mutex);
    impl_->lineFaults = faults;
    impl_->lineFaultsChanged = true;
}

SimulatedCamera::FaultCounts SimulatedCamera::FaultsDone() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->faultCounts;
}

void SimulatedCamera::SendRaw(std::vector<uint8_t> bytes) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->injected.push_back(std::move(bytes));
    }
    impl_->Wake();
}

void SimulatedCamera::IgnoreWrites(int index, bool ignore) {
    if (index >= 0 && index < kParameterCount) {
        std::lock_guard lock(impl_->mutex);
        impl_->ignoredWrites[static_cast<size_t>(index)] = ignore;
    }
}

}  // namespace sim
