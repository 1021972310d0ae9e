#include "shell/first_paint.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <cstdint>
#include <cstdlib>

namespace {

class FirstPaint final : public QObject {
  public:
    FirstPaint(QWidget* window, int fd) : QObject(window), fd_(fd) { window->installEventFilter(this); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const int64_t ns = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
            [[maybe_unused]] const ssize_t n = ::write(fd_, &ns, sizeof ns);
            ::close(fd_);
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

  private:
    int fd_;
};

}  // namespace

void ReportFirstPaint(QWidget* window) {
    const char* value = std::getenv("KELVRA_FIRST_PAINT_FD");
    if (window == nullptr || value == nullptr || *value == '\0') {
        return;
    }
    char* end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    if (*end == '\0' && fd > 2 && ::fcntl(static_cast<int>(fd), F_GETFD) >= 0) {
        new FirstPaint(window, static_cast<int>(fd));
    }
}
