// The search for the camera's port and the opening of a candidate. Each search episode (from
// losing, or not yet having, a camera until the next connection) says once what it looks for
// when it finds nothing (or that the device list cannot be read), says which port opened and did
// not answer, and says why a port does not open the first time it fails and again only when the
// reason changes; such a port is tried again after a growing pause. The latest obstacle is also
// the status line's tooltip.
#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "discovery/discovery.h"
#include "engine/link_internal.h"
#include "serial/com_names.h"

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFirstRetryMs = 250;
constexpr int kLongestRetryMs = 2000;
// A search that has found nothing for this long says so; shorter gaps (a quick replug, a port
// named just after the window registered) pass without a word.
constexpr milliseconds kHintGrace{1000};

// A remark owed once per episode is said only to a log somebody reads, now or once the window
// registers (the lines are kept for it until then).
bool Heard(const CameraLink* link) {
    return link->logSink.logWindow.load() != nullptr || link->logSink.keeping.load() != 0;
}

bool HintOwed(const CameraLink* link) {
    return !link->search.hinted && Heard(link);
}

// Waits until a device may have changed, the safety rescan is due, a log target arrived, or
// `most` has passed.
void PauseSearch(CameraLink* link, milliseconds most = milliseconds::max()) {
    WaitOnLink(link, std::min(most, milliseconds(link->options.safetyRescanMs)),
               [link] { return link->devicesChanged.load() != 0 || link->listenerArrived.load() != 0; });
}

SearchEpisode::Failure* FailureOf(SearchEpisode& episode, int comNumber) {
    for (int i = 0; i < episode.count; ++i) {
        if (episode.failures[i].comNumber == comNumber) {
            return &episode.failures[i];
        }
    }
    return nullptr;
}

void Forget(SearchEpisode& episode, int comNumber) {
    if (SearchEpisode::Failure* failure = FailureOf(episode, comNumber)) {
        *failure = episode.failures[--episode.count];
    }
}

// The record for a port that has just failed to open; the oldest gives way when all are taken.
SearchEpisode::Failure& Remember(SearchEpisode& episode, int comNumber, bool* first) {
    SearchEpisode::Failure* failure = FailureOf(episode, comNumber);
    *first = failure == nullptr;
    if (failure == nullptr) {
        const int slot = episode.count < SearchEpisode::kPorts ? episode.count++ : 0;
        failure = &episode.failures[slot];
        *failure = SearchEpisode::Failure{comNumber, 0, 0, 0, {}, 0};
    }
    return *failure;
}

// Name of the group owning the device node, for the permission hint.
bool NodeGroup(const char* path, struct stat* node, char* name, size_t size) {
    if (::stat(path, node) != 0) {
        return false;
    }
    group entry{};
    group* found = nullptr;
    char buffer[4096];
    if (getgrgid_r(node->st_gid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
        name[0] = '\0';
        return true;
    }
    std::snprintf(name, size, "%s", found->gr_name);
    return true;
}

void DescribeWithNode(const OpenFailure& failure, char* text, size_t size) {
    struct stat node {};
    char group[256];
    const bool known = NodeGroup(failure.devicePath, &node, group, sizeof group);
    DescribeOpenFailure(failure, known ? &node : nullptr, known && group[0] != '\0' ? group : nullptr, text,
                        size);
}

// The remark that follows "Failed to open COM%d", into `text`; false when there is none.
bool OpenFailureReason(int comNumber, PortKey key, const OpenFailure& failure,
                       char (&text)[kLogLineBlockSize]) {
    if (key == -1) {
        std::snprintf(text, sizeof text, "     COM%d: every serial port slot is in use", comNumber);
    } else if (failure.portNumber != comNumber) {
        return false;
    } else {
        DescribeWithNode(failure, text, sizeof text);
    }
    return true;
}

const char* WithoutIndent(const char* remark) {
    while (*remark == ' ') {
        ++remark;
    }
    return remark;
}

// Why the device list is empty when its folder could not be read.
void DescribeListFailure(const CameraLink* link, int error, char* text, size_t size) {
    char root[4096] = "/sys";
    if (!link->options.sysfsRoot.empty()) {
        std::snprintf(root, sizeof root, "%s", link->options.sysfsRoot.c_str());
    } else {
        GetDeviceScanRoot(root, sizeof root);
    }
    char reason[256];
    std::snprintf(text, size,
                  "The device list could not be read (%s/class/tty: %s), so no USB serial bridge can be "
                  "found. Name the camera's port with --port PATH, or try the program with --simulate",
                  root, strerror_r(error, reason, sizeof reason));
}

void ClearIdentity(CameraState& camera) {
    std::lock_guard<std::mutex> lock(camera.identityLock);
    std::memset(camera.versionText, 0, sizeof camera.versionText);
    std::memset(camera.infoBlock, 0, sizeof camera.infoBlock);
}

}  // namespace

int DescribeSearch(char* text, size_t size) {
    if (text == nullptr || size == 0) {
        return -1;
    }
    std::string named;
    char path[kMaxDevicePath];
    for (int i = 0; NamedPortAt(i, path, sizeof path, nullptr); ++i) {
        named += (i == 0 ? ", and on " : ", ") + std::string(path);
    }
    std::snprintf(text, size,
                  "No camera found: looked for USB serial bridges 0403:6001, 0403:6015 and FFFF:FFFF (a "
                  "bridge whose identifiers were never programmed) on /dev/ttyUSB* and /dev/ttyACM*%s. Plug "
                  "in the camera's bridge, name its port with --port "
                  "PATH, or try the program with --simulate",
                  named.c_str());
    return 0;
}

bool DescribeLastOpenFailure(int comNumber, char* text, size_t size) {
    OpenFailure failure{};
    if (text == nullptr || size == 0 || !GetLastOpenFailure(&failure) || failure.portNumber != comNumber) {
        return false;
    }
    char remark[kLogLineBlockSize];
    DescribeWithNode(failure, remark, sizeof remark);
    std::snprintf(text, size, "%s", WithoutIndent(remark));
    return true;
}

void BeginSearchEpisode(CameraLink* link) {
    link->search = SearchEpisode{};
    link->search.began = Clock::now();
    SetSearchNote(link, "");
}

void SetSearchNote(CameraLink* link, const char* text) {
    {
        std::lock_guard<std::mutex> lock(link->noteLock);
        if (std::strncmp(link->searchNote, text, sizeof link->searchNote - 1) == 0) {
            return;
        }
        std::snprintf(link->searchNote, sizeof link->searchNote, "%s", text);
        link->noteVersion.fetch_add(1);
    }
    NoteViewChange(link);
}

void ReportSilentPort(CameraLink* link) {
    const int comNumber = link->comNumber.load();
    char path[kMaxDevicePath] = "";
    DevicePathForCom(comNumber, path, sizeof path);
    char text[kLogLineBlockSize];
    std::snprintf(text, sizeof text,
                  "COM%d (%s) opened, but no camera answered the status query on it. Check that it is "
                  "the camera's port, that the camera is powered on, and that its serial line is set to "
                  "921600 baud",
                  comNumber, path);
    SetSearchNote(link, text);
    SearchEpisode& episode = link->search;
    if (std::find(episode.silentPorts, episode.silentPorts + episode.silentCount, comNumber) !=
            episode.silentPorts + episode.silentCount ||
        !Heard(link)) {
        return;
    }
    episode.silentPorts[episode.silentCount < SearchEpisode::kPorts ? episode.silentCount++ : 0] = comNumber;
    LogRemark(link, "     %s", text);
}

void SearchStep(CameraLink* link) {
    SetLinkStatus(link, StatusSearching);
    // A log target set after an earlier one went missed what was said meanwhile: the episode
    // starts afresh for the newcomer.
    if (link->listenerArrived.exchange(0) != 0) {
        BeginSearchEpisode(link);
    }
    SearchCandidates candidates{};
    const int current = link->comNumber.load();
    if (!ScanForCandidates(link, &candidates)) {
        PauseSearch(link);
        return;
    }
    char listFailure[kLogLineBlockSize] = "";
    if (candidates.listError != 0) {
        DescribeListFailure(link, candidates.listError, listFailure, sizeof listFailure);
        if (!link->search.listFailureSaid && Heard(link)) {
            link->search.listFailureSaid = true;
            LogRemark(link, "     %s", listFailure);
        }
    }
    if (candidates.lowestPrimary > current) {
        link->comNumber.store(candidates.lowestPrimary);
        link->state.store(LinkOpen);
    } else if (candidates.highestAccepted > current && candidates.nextAbove > 0) {
        link->comNumber.store(candidates.nextAbove);
        SetLinkStatus(link, StatusOpening);
        link->state.store(LinkOpen);
    } else {
        link->comNumber.store(0);
        if (current == 0) {
            // Nothing to try at all: no obstacle but the device list, if that could not be read.
            SetSearchNote(link, listFailure);
        }
        // Nothing to try at all: say once what is looked for and what to do, unless the reason
        // is that the device list could not be read (said above).
        if (current == 0 && candidates.listError == 0 && HintOwed(link)) {
            const auto due = std::chrono::ceil<milliseconds>(link->search.began + kHintGrace - Clock::now());
            if (due.count() > 0) {
                PauseSearch(link, due);
                return;
            }
            link->search.hinted = true;
            char hint[kLogLineBlockSize];
            DescribeSearch(hint, sizeof hint);
            LogRemark(link, "     %s", hint);
        }
        PauseSearch(link);
    }
}

void OpenStep(CameraLink* link) {
    const int comNumber = link->comNumber.load();
    // A port that failed before waits out its pause, unless a device changed meanwhile.
    if (const SearchEpisode::Failure* failure = FailureOf(link->search, comNumber)) {
        const uint32_t events = failure->deviceEvents;
        const auto wait = std::chrono::ceil<milliseconds>(failure->nextTry - Clock::now());
        if (wait.count() > 0) {
            WaitOnLink(link, wait, [link, events] {
                return link->deviceEvents.load() != events || link->listenerArrived.load() != 0;
            });
        }
        if (link->running.load() == 0) {
            return;
        }
    }
    if (OpenCameraPort(link)) {
        Forget(link->search, comNumber);
        LogRemark(link, "     Opening COM%d ", comNumber);
        LogRemark(link, "     COM%d is open - Polling device", comNumber);
        link->awaitingAck.store(0);
        CameraState& camera = link->cameraState;
        camera.identityValid.store(0);
        NoteViewChange(link);
        ClearIdentity(camera);
        for (ParameterEntry& entry : camera.cameraValues.entries) {
            entry.value.store(0);
            entry.flag.store(0);
        }
        SetLinkStatus(link, StatusQuerying);
        link->state.store(LinkQueryStatus);
        return;
    }
    OpenFailure reason{};
    const bool known = GetLastOpenFailure(&reason) && reason.portNumber == comNumber;
    const int error = link->lastOpenResult == -1 ? -1 : (known ? reason.errorNumber : 0);
    const int busy = known ? reason.busy : 0;
    bool first = false;
    SearchEpisode::Failure& failure = Remember(link->search, comNumber, &first);
    char why[kLogLineBlockSize];
    const bool explained = OpenFailureReason(comNumber, link->lastOpenResult, reason, why);
    if (first || failure.reason != error || failure.busy != busy) {
        LogRemark(link, "     Opening COM%d ", comNumber);
        LogRemark(link, "     Failed to open COM%d", comNumber);
        if (explained) {
            LogText(&link->logSink, why);
        }
    }
    // The tooltip gives the reason the log gave.
    if (!explained) {
        std::snprintf(why, sizeof why, "Failed to open COM%d", comNumber);
    }
    SetSearchNote(link, WithoutIndent(why));
    failure.reason = error;
    failure.busy = busy;
    failure.failures = std::min(failure.failures + 1, 8);
    failure.deviceEvents = link->deviceEvents.load();
    failure.nextTry =
        Clock::now() + milliseconds(std::min(kFirstRetryMs << (failure.failures - 1), kLongestRetryMs));
    link->state.store(LinkSearch);
}

void DescribeOpenFailure(const OpenFailure& failure, const struct stat* node, const char* groupName,
                         char* text, size_t size) {
    // A path that would fill the log line is cut, so the advice after it is always read.
    char path[2048];
    std::snprintf(path, sizeof path, "%.2047s", failure.devicePath);
    if (failure.devicePath[0] == '\0') {
        std::snprintf(text, size, "     COM%d has no device node", failure.portNumber);
    } else if (failure.busy != 0) {
        std::snprintf(text, size, "     %s is in use by another program; the search will try it again", path);
    } else if (failure.errorNumber == EACCES || failure.errorNumber == EPERM) {
        // Joining the group helps only when the group may read and write the node; root's group
        // is no group for a user to join.
        const bool groupHelps = node != nullptr && groupName != nullptr && node->st_gid != 0 &&
                                (node->st_mode & S_IRGRP) != 0 && (node->st_mode & S_IWGRP) != 0;
        if (groupHelps) {
            std::snprintf(
                text, size,
                "     No permission to open %s: add your user to the group \"%s\" (sudo usermod -aG %s "
                "$USER); the membership takes effect at the next login",
                path, groupName, groupName);
        } else {
            std::snprintf(
                text, size,
                "     No permission to open %s: your user needs read and write access to it; install "
                "the package's udev rule for the camera's bridges (60-kelvra.rules), or see \"Access "
                "to the serial port\" in the Kelvra User's Guide",
                path);
        }
    } else {
        char reason[256];
        std::snprintf(text, size, "     Cannot open %s: %s", path,
                      strerror_r(failure.errorNumber, reason, sizeof reason));
    }
}
