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
#include <cstring>

#include "diagnostics_ui/log_event.h"
#include "diagnostics_ui/log_file.h"
#include "diagnostics_ui/manual_message_dialog.h"
#include "panel/panel_dlg.h"
#include "panel/panel_internal.h"
#include "resources/strings.h"
#include "shell/ui_services.h"
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
    const QString path =
        Desktop().SaveFileName(parent, QDir::home().filePath(QStringLiteral("kelvra-log.txt")),
                               QStringLiteral("Text files (*.txt)"), QStringLiteral("txt"));
    if (path.isEmpty() || WriteLogHistory(history, path))
        return;
    Desktop().MessageBox(
        parent, QStringLiteral("The log could not be written to %1.").arg(QDir::toNativeSeparators(path)),
        QStringLiteral("Save Log As"), QMessageBox::Warning, QMessageBox::Ok);
}

}  // namespace

void C_Vesper_GUIDlg::ToggleDiagnostics() {
    if (diagnostics_ == nullptr) {
        auto* window = new ManualMessageDialog(this);
        connect(window, &ManualMessageDialog::diagnosticsClosed, this, &C_Vesper_GUIDlg::OnDiagnosticsClosed);
        connect(window, &ManualMessageDialog::saveLogRequested, this,
                [this, window] { SaveLogAs(window, history_); });
        // Beside the panel, not over its controls. Both windows get the same decorations.
        const QRect owner = frameGeometry();
        const QSize decorations = owner.size() - size();
        if (const QScreen* where = screen()) {
            const Beside placed =
                PlaceBeside(owner, window->size() + decorations, where->availableGeometry());
            if (placed.owner != owner.topLeft())
                move(placed.owner);
            window->move(placed.window);
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

Beside PlaceBeside(const QRect& owner, const QSize& size, const QRect& available) {
    const auto clampX = [&](int x) {
        return std::max(available.left(), std::min(x, available.right() + 1 - size.width()));
    };
    const auto clampY = [&](int y) {
        return std::max(available.top(), std::min(y, available.bottom() + 1 - size.height()));
    };
    // Right, below, left, above, each level with the owner's near edge.
    const QPoint sides[] = {
        {owner.right() + 1 + kWindowGap, owner.top()},
        {owner.left(), owner.bottom() + 1 + kWindowGap},
        {owner.left() - kWindowGap - size.width(), owner.top()},
        {owner.left(), owner.top() - kWindowGap - size.height()},
    };
    const bool sideways[] = {true, false, true, false};
    // As the owner stands, the window slid along its side to stay on the area.
    for (int i = 0; i < 4; ++i) {
        const QPoint at = sideways[i] ? QPoint(sides[i].x(), clampY(sides[i].y()))
                                      : QPoint(clampX(sides[i].x()), sides[i].y());
        if (available.contains(QRect(at, size)))
            return {at, owner.topLeft()};
    }
    // Otherwise both move, the owner as little as gets the pair onto the area (or as near as it
    // comes), and the window may then have to cover part of it: as little as can be.
    Beside best{};
    qint64 leastCovered = -1;
    for (const QPoint& side : sides) {
        const QRect pair = owner.united(QRect(side, size));
        const QPoint shift(
            std::max(available.left() - pair.left(), std::min(0, available.right() - pair.right())),
            std::max(available.top() - pair.top(), std::min(0, available.bottom() - pair.bottom())));
        QRect moved = owner.translated(shift);
        moved.moveTo(
            std::max(available.left(), std::min(moved.left(), available.right() + 1 - moved.width())),
            std::max(available.top(), std::min(moved.top(), available.bottom() + 1 - moved.height())));
        const QPoint beside = side + moved.topLeft() - owner.topLeft();
        const QRect placed(QPoint(clampX(beside.x()), clampY(beside.y())), size);
        const QRect covered = placed.intersected(moved);
        const qint64 area = qint64(covered.width()) * covered.height();
        if (leastCovered < 0 || area < leastCovered) {
            leastCovered = area;
            best = {placed.topLeft(), moved.topLeft()};
        }
    }
    return best;
}
