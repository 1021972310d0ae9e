// The panel's side of the diagnostics window: the log lines the panel keeps and forwards, the
// replay when the window opens, opening and closing it, and where it goes beside the panel.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <array>
#include <cstring>

#include "diagnostics/traffic_log.h"
#include "diagnostics_ui/log_event.h"
#include "diagnostics_ui/log_file.h"
#include "diagnostics_ui/manual_message_dialog.h"
#include "panel/panel_dlg.h"
#include "panel/panel_internal.h"
#include "resources/strings.h"
#include "shell/ui_services.h"
#include "shell/window_memory.h"
#include "ui_panel.h"

namespace {

// Lets lines already on their way to a closing window arrive before it goes.
constexpr int kDiagnosticsClosePauseMs = 250;
// Room between the panel and the diagnostics window.
constexpr int kWindowGap = 8;

}  // namespace

void C_Vesper_GUIDlg::StoreLogLine(uintptr_t firstParameter, char* block) {
    if (block == nullptr)
        return;
    history_.Store(block);
    if (diagnostics_ != nullptr) {
        if (char* copy = NewLogBlock()) {
            std::memcpy(copy, block, kLogLineBlockSize);
            QCoreApplication::postEvent(diagnostics_, new LogLineEvent(firstParameter, copy));
        }
    }
    FreeLogBlock(block);
}

void C_Vesper_GUIDlg::KeepOwnLine(const QString& text) {
    char* block = NewLogBlock();
    if (block == nullptr)
        return;
    ComposeLogLine(text.toLocal8Bit().constData(), CurrentLogTime(), block);
    StoreLogLine(0, block);
}

void C_Vesper_GUIDlg::ReplayLogHistory() {
    QPointer<ManualMessageDialog> window = diagnostics_;
    if (window == nullptr)
        return;
    // Every kept line is in the window, oldest first, before any line that arrives after it:
    // the window, "Save Log As..." and a copy of all its lines read the same.
    history_.Replay([&](const char* text) {
        if (window == nullptr)
            return false;
        char* copy = NewLogBlock();
        if (copy == nullptr)
            return false;
        std::memcpy(copy, text, strnlen(text, kLogLineMaxText));  // the block is zero-filled
        LogLineEvent event(0, copy);
        QCoreApplication::sendEvent(window, &event);
        return true;
    });
}

// ---- Diagnostics window ----

namespace {

// "Save Log As..." in the diagnostics window: the kept history to a file the user names.
void SaveLogAs(QWidget* parent, const LogHistory& history) {
    const QString folder = LastFolder(kLogFolderKey, QDir::homePath());
    const QString path =
        Desktop().SaveFileName(parent, QDir(folder).filePath(QStringLiteral("kelvra-log.txt")),
                               QStringLiteral("Text files (*.txt)"), QStringLiteral("txt"));
    RememberFolder(kLogFolderKey, path);
    QString error;
    if (path.isEmpty() || WriteLogHistory(history, path, &error))
        return;
    Desktop().MessageBox(parent, QStringLiteral("The log could not be saved: %1.").arg(error),
                         QStringLiteral("Save Log As"), QMessageBox::Warning, QMessageBox::Ok);
}

}  // namespace

void C_Vesper_GUIDlg::ToggleDiagnostics() {
    if (diagnostics_ == nullptr) {
        auto* window = new ManualMessageDialog(this);
        connect(window, &ManualMessageDialog::diagnosticsClosed, this, &C_Vesper_GUIDlg::OnDiagnosticsClosed);
        connect(window, &ManualMessageDialog::saveLogRequested, this,
                [this, window] { SaveLogAs(window, history_); });
        connect(window, &ManualMessageDialog::logRemark, this, &C_Vesper_GUIDlg::KeepOwnLine);
        // Where the user left it, with its size; else beside the panel. Never over the panel's
        // status line and bottom buttons. Both windows get the same decorations.
        const QRect owner = frameGeometry();
        const QSize decorations = owner.size() - size();
        QRect kept;
        const bool remembered = RememberedPlace(kDiagnosticsGeometryKey, &kept);
        if (remembered) {
            window->resize(kept.size());
            window->move(kept.topLeft());
        }
        if (const QScreen* where = screen()) {
            const QRect available = where->availableGeometry();
            const QRect keep = KeptInView();
            if (!remembered || QRect(kept.topLeft(), kept.size() + decorations).intersects(keep)) {
                const Beside placed = PlaceBeside(owner, window->size() + decorations, available, keep,
                                                  window->minimumSize() + decorations);
                if (placed.owner != owner.topLeft())
                    move(placed.owner);
                window->resize(placed.size - decorations);
                window->move(placed.window);
            }
        }
        window->show();
        diagnostics_ = window;
        ReplayLogHistory();
        ui_->buttonDiagnostics->setText(QStringLiteral("Close Message Diagnostics Window"));
        if (QAction* a = MenuEntry(kCommandDiagnostics))
            a->setChecked(true);
        return;
    }
    ManualMessageDialog* window = diagnostics_;
    diagnostics_ = nullptr;
    ui_->buttonDiagnostics->setText(QStringLiteral("Open Message Diagnostics Window"));
    if (QAction* a = MenuEntry(kCommandDiagnostics))
        a->setChecked(false);
    // Lines already on their way to the window arrive before it goes.
    QThread::msleep(kDiagnosticsClosePauseMs);
    window->CloseDiagnostics();
}

void C_Vesper_GUIDlg::OnDiagnosticsClosed() {
    C_Vesper_GUIDlg* panel = Instance();
    if (panel == nullptr || panel->diagnostics_ == nullptr || sender() != panel->diagnostics_)
        return;
    panel->diagnostics_ = nullptr;
    panel->ui_->buttonDiagnostics->setText(QStringLiteral("Open Message Diagnostics Window"));
    if (QAction* a = panel->MenuEntry(kCommandDiagnostics))
        a->setChecked(false);
}

QRect C_Vesper_GUIDlg::KeptInView() const {
    const QRect frame = frameGeometry();
    const int top = mapToGlobal(ui_->groupStatus->mapTo(this, QPoint(0, 0))).y();
    return QRect(QPoint(frame.left(), std::clamp(top, frame.top(), frame.bottom())), frame.bottomRight());
}

Beside PlaceBeside(const QRect& owner, const QSize& size, const QRect& available, const QRect& keep,
                   const QSize& minimum) {
    const auto clampX = [&](int x, int width) {
        return std::max(available.left(), std::min(x, available.right() + 1 - width));
    };
    const auto clampY = [&](int y, int height) {
        return std::max(available.top(), std::min(y, available.bottom() + 1 - height));
    };
    // Right, below, left, above, each level with the owner's near edge.
    const auto sides = [&](const QRect& at, const QSize& window) {
        return std::array<QPoint, 4>{QPoint(at.right() + 1 + kWindowGap, at.top()),
                                     QPoint(at.left(), at.bottom() + 1 + kWindowGap),
                                     QPoint(at.left() - kWindowGap - window.width(), at.top()),
                                     QPoint(at.left(), at.top() - kWindowGap - window.height())};
    };
    const bool sideways[] = {true, false, true, false};
    // As the owner stands, the window slid along its side to stay on the area.
    const auto beside = sides(owner, size);
    for (int i = 0; i < 4; ++i) {
        const QPoint at = sideways[i] ? QPoint(beside[i].x(), clampY(beside[i].y(), size.height()))
                                      : QPoint(clampX(beside[i].x(), size.width()), beside[i].y());
        if (available.contains(QRect(at, size)))
            return {at, owner.topLeft(), size};
    }
    // The owner moves as little as gets the pair onto the area.
    for (const QPoint& side : beside) {
        const QRect pair = owner.united(QRect(side, size));
        if (pair.width() > available.width() || pair.height() > available.height())
            continue;
        const QPoint shift(
            std::max(available.left() - pair.left(), std::min(0, available.right() - pair.right())),
            std::max(available.top() - pair.top(), std::min(0, available.bottom() - pair.bottom())));
        return {side + shift, owner.topLeft() + shift, size};
    }
    // The window shrinks (not below `minimum`) into the largest room beside the owner, the owner
    // pushed to the far edge as far as that takes.
    Beside best{};
    qint64 largest = -1;
    for (int i = 0; i < 4; ++i) {
        QRect moved = owner;
        moved.moveTo(clampX(i == 0   ? available.left()
                            : i == 2 ? available.right()
                                     : owner.left(),
                            owner.width()),
                     clampY(i == 1   ? available.top()
                            : i == 3 ? available.bottom()
                                     : owner.top(),
                            owner.height()));
        const int room = i == 0   ? available.right() - moved.right() - kWindowGap
                         : i == 1 ? available.bottom() - moved.bottom() - kWindowGap
                         : i == 2 ? moved.left() - available.left() - kWindowGap
                                  : moved.top() - available.top() - kWindowGap;
        const QSize fitted =
            sideways[i] ? QSize(std::min(size.width(), room), std::min(size.height(), available.height()))
                        : QSize(std::min(size.width(), available.width()), std::min(size.height(), room));
        if (fitted.width() < minimum.width() || fitted.height() < minimum.height())
            continue;
        const QPoint side = sides(moved, fitted)[static_cast<size_t>(i)];
        const QPoint at = sideways[i] ? QPoint(side.x(), clampY(side.y(), fitted.height()))
                                      : QPoint(clampX(side.x(), fitted.width()), side.y());
        const qint64 area = qint64(fitted.width()) * fitted.height();
        if (area > largest) {
            largest = area;
            best = {at, moved.topLeft(), fitted};
        }
    }
    if (largest >= 0)
        return best;
    // No room beside it at all: the window covers the owner, but not the part to keep in view.
    const QRect above(available.topLeft(), QPoint(available.right(), keep.top() - 1 - kWindowGap));
    const QRect below(QPoint(available.left(), keep.bottom() + 1 + kWindowGap), available.bottomRight());
    const QRect& room = above.height() >= below.height() ? above : below;
    const QSize fitted(std::min(size.width(), available.width()),
                       std::max(1, std::min(size.height(), room.height())));
    return {QPoint(clampX(owner.left(), fitted.width()),
                   &room == &above ? room.bottom() + 1 - fitted.height() : room.top()),
            owner.topLeft(), fitted};
}
