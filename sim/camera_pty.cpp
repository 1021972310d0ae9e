// The camera's pseudo-terminal and the link to it: a new pair, the link swapped over to it,
// unplug and plug.
#include "sim/camera_impl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace sim {

int SimulatedCamera::Impl::OpenAndLink() {
    int result = OpenPseudoTerminal();
    if (result == 0) {
        std::string slave;
        {
            std::lock_guard lock(mutex);
            slave = slavePath;
        }
        result = PointLink(slave);
    }
    if (result != 0) {
        master.Reset();
        ownSlave.Reset();
    }
    return result;
}

int SimulatedCamera::Impl::OpenPseudoTerminal() {
    UniqueFd m(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (m.Get() < 0) {
        return -errno;
    }
    if (::grantpt(m.Get()) != 0 || ::unlockpt(m.Get()) != 0) {
        return -errno;
    }
    char name[128];
    if (::ptsname_r(m.Get(), name, sizeof name) != 0) {
        return -errno;
    }
    // Our own descriptor of the slave keeps the pair alive while the program closes and
    // reopens the port, so the master never sees a hang-up in between.
    UniqueFd s(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (s.Get() < 0) {
        return -errno;
    }
    // Raw from the start: the line discipline must not translate or echo anything written
    // before the program has opened and configured the port.
    termios tio{};
    if (::tcgetattr(s.Get(), &tio) != 0) {
        return -errno;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B921600);
    ::cfsetospeed(&tio, B921600);
    if (::tcsetattr(s.Get(), TCSANOW, &tio) != 0) {
        return -errno;
    }
    int flags = ::fcntl(m.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(m.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        return -errno;
    }
    master = std::move(m);
    ownSlave = std::move(s);
    std::lock_guard lock(mutex);
    slavePath = name;
    return 0;
}

int SimulatedCamera::Impl::PointLink(const std::string& target) {
    std::string link;
    {
        std::lock_guard lock(mutex);
        link = linkPath;
    }
    if (link.empty()) {
        return 0;
    }
    // Never replace something that is not a link: the path may be a real file.
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        return -EEXIST;
    }
    // rename() swaps the link in one step, so a program opening the path sees either the
    // old or the new slave, never no link at all.
    std::string temporary = link + ".tmp-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        return -errno;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        return -error;
    }
    std::lock_guard lock(mutex);
    linkTarget = target;
    return 0;
}

void SimulatedCamera::Impl::RemoveLink() {
    std::string link, target;
    {
        std::lock_guard lock(mutex);
        link = linkPath;
        target = linkTarget;
        linkTarget.clear();
    }
    if (link.empty() || target.empty()) {
        return;
    }
    // Only remove the link while it is still ours.
    char current[PATH_MAX];
    ssize_t n = ::readlink(link.c_str(), current, sizeof current - 1);
    if (n >= 0) {
        current[n] = '\0';
        if (target == current) {
            ::unlink(link.c_str());
        }
    }
}

int SimulatedCamera::Unplug() {
    Impl& d = *impl_;
    std::lock_guard life(d.lifecycleMutex);
    {
        std::lock_guard lock(d.mutex);
        if (!d.started) {
            return -EINVAL;
        }
        if (!d.plugged) {
            return -EALREADY;
        }
    }
    d.StopThread();
    // Closing the master hangs up the program's descriptor of the slave. The link, if any,
    // is left leading nowhere, as a vanished USB device's node would: not at the old slave's
    // name, which the next pseudo-terminal of any process may take.
    d.master.Reset();
    d.ownSlave.Reset();
    std::string gone;
    {
        std::lock_guard lock(d.mutex);
        d.plugged = false;
        gone = d.slavePath + " (unplugged)";
    }
    d.PointLink(gone);
    return 0;
}

int SimulatedCamera::Plug() {
    Impl& d = *impl_;
    std::lock_guard life(d.lifecycleMutex);
    {
        std::lock_guard lock(d.mutex);
        if (!d.started) {
            return -EINVAL;
        }
        if (d.plugged) {
            return -EALREADY;
        }
    }
    if (int result = d.OpenAndLink(); result != 0) {
        return result;
    }
    {
        std::lock_guard lock(d.mutex);
        d.plugged = true;
    }
    d.StartThread();
    return 0;
}

bool SimulatedCamera::Plugged() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->plugged;
}

}  // namespace sim
