#include "diagnostics_ui/data_list.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QToolTip>
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace {

constexpr int kTextMargin = 3;

}  // namespace

CDataList::CDataList(QWidget* parent) : QAbstractScrollArea(parent), menu_(new QMenu(this)) {
    InstallDataListAccessibility();
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    rowHeight_ = fontMetrics().height() + 2;
    UpdateScrollRange();

    // The shortcuts are shown for reference; the keys themselves are handled below.
    copyAction_ = menu_->addAction(QStringLiteral("Copy"), this, &CDataList::Copy);
    copyAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    QAction* selectAll = menu_->addAction(QStringLiteral("Select All"), this, &CDataList::SelectAll);
    selectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("Save Log As..."), this, &CDataList::saveLogRequested);
    for (QAction* action : menu_->actions()) {
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
    }
}

CDataList::~CDataList() = default;

// ---- Lines ----

const char* CDataList::TextAt(uint64_t position) const {
    return chunks_[position >> kChunkShift].get() + (position & (kChunkBytes - 1));
}

char* CDataList::TextAt(uint64_t position) {
    return chunks_[position >> kChunkShift].get() + (position & (kChunkBytes - 1));
}

int CDataList::AddString(std::string_view line) {
    if (Count() == INT_MAX)
        return -1;
    const size_t length = std::min(line.size(), static_cast<size_t>(kMaxLineLength));
    // A line that would reach the end of the chunk starts a new one, so every line's place
    // names an existing chunk, also for an empty line.
    if (chunks_.empty() || tailUsed_ + length >= kChunkBytes) {
        // Left uninitialised: pages cost memory only once text is written to them.
        std::unique_ptr<char[]> chunk(new (std::nothrow) char[kChunkBytes]);
        if (chunk == nullptr)
            return -1;
        chunks_.push_back(std::move(chunk));
        tailUsed_ = 0;
    }
    LineRecord record{};
    record.position = (static_cast<uint64_t>(chunks_.size() - 1) << kChunkShift) + tailUsed_;
    record.length = length;
    if (length > 0)
        std::memcpy(chunks_.back().get() + tailUsed_, line.data(), length);
    tailUsed_ += length;
    lines_.push_back(record);
    if (longest_ < 0 || length > lines_[static_cast<size_t>(longest_)].length) {
        longest_ = Count() - 1;
        longestWidth_ = -1;
    }
    ScheduleSync();
    return Count() - 1;
}

std::string_view CDataList::Line(int row) const {
    if (row < 0 || row >= Count())
        return {};
    const LineRecord& record = lines_[static_cast<size_t>(row)];
    return {TextAt(record.position), static_cast<size_t>(record.length)};
}

QString CDataList::Text(int row) const {
    const std::string_view line = Line(row);
    return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
}

// ---- Scrolling ----

int CDataList::VisibleRows() const {
    return std::max(1, viewport()->height() / rowHeight_);
}

// The scroll bar catches up with the lines once per turn of the event loop (Sync): a flood
// of lines then costs one scroll bar update, not one per line. Until then the top row is
// worked out from the lines themselves.
int CDataList::TopIndex() const {
    const int last = std::max(0, Count() - VisibleRows());
    return followPending_ ? last : std::min(verticalScrollBar()->value(), last);
}

void CDataList::ScheduleSync() {
    if (!syncTimer_.isActive())
        syncTimer_.start(0, this);
}

void CDataList::Sync() {
    syncTimer_.stop();
    UpdateScrollRange();
    if (followPending_) {
        followPending_ = false;
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
    viewport()->update();
}

void CDataList::timerEvent(QTimerEvent* event) {
    if (event->timerId() == syncTimer_.timerId())
        Sync();
    else
        QAbstractScrollArea::timerEvent(event);
}

int CDataList::RowAt(int y) const {
    if (y < 0)
        return -1;
    const int row = TopIndex() + y / rowHeight_;
    return row < Count() ? row : -1;
}

void CDataList::UpdateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    const int page = VisibleRows();
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, Count() - page));
    // Sideways as far as the longest line reaches; measured once each time it changes.
    if (longestWidth_ < 0)
        longestWidth_ = longest_ < 0 ? 0 : fontMetrics().horizontalAdvance(Text(longest_));
    QScrollBar* across = horizontalScrollBar();
    const int width = viewport()->width();
    across->setPageStep(width);
    across->setSingleStep(std::max(1, 4 * fontMetrics().averageCharWidth()));
    across->setRange(0, std::max(0, 2 * kTextMargin + longestWidth_ - width));
}

void CDataList::FindLongest() {
    longest_ = -1;
    longestWidth_ = -1;
    for (int row = 0; row < Count(); ++row)
        if (longest_ < 0 ||
            lines_[static_cast<size_t>(row)].length > lines_[static_cast<size_t>(longest_)].length)
            longest_ = row;
}

QRect CDataList::RowRect(int row) const {
    const int top = TopIndex();
    if (row < top || row >= std::min(Count(), top + VisibleRows() + 1))
        return QRect();
    return QRect(0, (row - top) * rowHeight_, viewport()->width(), rowHeight_);
}

void CDataList::SetTopIndex(int row) {
    if (row < 0 || row >= Count())
        return;
    Sync();
    verticalScrollBar()->setValue(row);
}

void CDataList::FollowNewest() {
    followPending_ = true;
    ScheduleSync();
}

void CDataList::EnsureVisible(int row) {
    Sync();
    const int top = TopIndex();
    const int page = VisibleRows();
    if (row < top)
        verticalScrollBar()->setValue(row);
    else if (row >= top + page)
        verticalScrollBar()->setValue(row - page + 1);
}

void CDataList::scrollContentsBy(int, int) {
    viewport()->update();
}

void CDataList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    Sync();
}

void CDataList::wheelEvent(QWheelEvent* event) {
    Sync();
    QAbstractScrollArea::wheelEvent(event);
}

void CDataList::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        rowHeight_ = fontMetrics().height() + 2;
        longestWidth_ = -1;
        Sync();
    }
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ActivationChange ||
        event->type() == QEvent::PaletteChange)
        viewport()->update();
}

void CDataList::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void CDataList::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

// ---- Painting ----

void CDataList::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    const int top = TopIndex();
    const int width = viewport()->width();
    const int first = top + std::max(0, area.top()) / rowHeight_;
    const int last = std::min(Count() - 1, top + area.bottom() / rowHeight_);
    const QPalette::ColorGroup group = isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    const int baseline = 1 + fontMetrics().ascent();
    const int across = horizontalScrollBar()->value();
    // No glyph is narrower than half a pixel, so the rest of a long line would not show.
    const size_t shownChars = static_cast<size_t>(2 * (width + across));
    for (int row = first; row <= last; ++row) {
        const QRect rect(0, (row - top) * rowHeight_, width, rowHeight_);
        if (lines_[static_cast<size_t>(row)].selected) {
            painter.fillRect(rect, palette().brush(group, QPalette::Highlight));
            painter.setPen(palette().color(group, QPalette::HighlightedText));
        } else {
            painter.setPen(palette().color(group, QPalette::Text));
        }
        const std::string_view line = Line(row).substr(0, shownChars);
        painter.drawText(kTextMargin - across, rect.top() + baseline,
                         QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
        if (row == caret_ && hasFocus()) {
            QStyleOptionFocusRect option;
            option.initFrom(this);
            option.rect = rect;
            option.backgroundColor =
                palette().color(group, IsSelected(row) ? QPalette::Highlight : QPalette::Base);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
    }
}

// ---- Selection ----

bool CDataList::IsSelected(int row) const {
    return row >= 0 && row < Count() && lines_[static_cast<size_t>(row)].selected;
}

void CDataList::Mark(int row, bool selected) {
    LineRecord& record = lines_[static_cast<size_t>(row)];
    if (record.selected == selected)
        return;
    record.selected = selected;
    if (selected) {
        if (selectedCount_++ == 0) {
            selectedFirst_ = selectedLast_ = row;
        } else {
            selectedFirst_ = std::min(selectedFirst_, row);
            selectedLast_ = std::max(selectedLast_, row);
        }
    } else if (--selectedCount_ == 0) {
        selectedFirst_ = 0;
        selectedLast_ = -1;
    }
}

void CDataList::ClearSelection() {
    for (int row = selectedFirst_; row <= selectedLast_; ++row)
        lines_[static_cast<size_t>(row)].selected = 0;
    selectedCount_ = 0;
    selectedFirst_ = 0;
    selectedLast_ = -1;
}

void CDataList::SelectOnly(int first, int last) {
    ClearSelection();
    for (int row = std::min(first, last); row <= std::max(first, last); ++row)
        Mark(row, true);
}

void CDataList::SetSelected(int row, bool selected) {
    if (row < 0 || row >= Count())
        return;
    Mark(row, selected);
    viewport()->update();
}

void CDataList::SelectAll() {
    for (LineRecord& record : lines_)
        record.selected = 1;
    selectedCount_ = Count();
    selectedFirst_ = 0;
    selectedLast_ = Count() - 1;
    viewport()->update();
}

QList<int> CDataList::SelectedRows() const {
    QList<int> rows;
    rows.reserve(selectedCount_);
    for (int row = selectedFirst_; row <= selectedLast_; ++row)
        if (lines_[static_cast<size_t>(row)].selected)
            rows.append(row);
    return rows;
}

void CDataList::SetCurrentRow(int row) {
    if (row < 0 || row >= Count())
        return;
    caret_ = anchor_ = row;
    EnsureVisible(row);
    viewport()->update();
    AnnounceCaret();
}

void CDataList::MoveCaret(int row, bool extend) {
    row = std::clamp(row, 0, Count() - 1);
    if (!extend || anchor_ < 0)
        anchor_ = extend && caret_ >= 0 ? caret_ : row;
    caret_ = row;
    SelectOnly(anchor_, caret_);
    EnsureVisible(caret_);
    viewport()->update();
    AnnounceCaret();
}

void CDataList::AnnounceCaret() {
    if (caret_ < 0 || !hasFocus() || !QAccessible::isActive())
        return;
    QAccessibleEvent event(this, QAccessible::Focus);
    event.setChild(caret_);
    QAccessible::updateAccessibility(&event);
}

// ---- Clipboard ----

void CDataList::Copy() {
    QClipboard* clipboard = QApplication::clipboard();
    if (clipboard == nullptr)
        return;
    QByteArray text;
    for (int row = selectedFirst_; row <= selectedLast_; ++row) {
        if (!lines_[static_cast<size_t>(row)].selected)
            continue;
        const std::string_view line = Line(row);
        text.append(line.data(), static_cast<qsizetype>(line.size()));
        text.append("\r\n");
    }
    clipboard->clear();
    clipboard->setText(QString::fromLatin1(text));
}

void CDataList::Cut() {
    Copy();
    if (selectedCount_ == 0)
        return;
    const int firstCut = selectedFirst_;
    // The kept lines move down over the cut ones in place, by the rule AddString places
    // them; no kept line ever moves to a later place, so nothing is overwritten unread.
    uint64_t out = 0;
    size_t kept = 0;
    for (size_t i = 0; i < lines_.size(); ++i) {
        LineRecord record = lines_[i];
        if (record.selected)
            continue;
        if ((out & (kChunkBytes - 1)) + record.length >= kChunkBytes)
            out = ((out >> kChunkShift) + 1) << kChunkShift;
        if (out != record.position && record.length > 0)
            std::memmove(TextAt(out), TextAt(record.position), record.length);
        record.position = out;
        out += record.length;
        lines_[kept++] = record;
    }
    lines_.resize(kept);
    const size_t chunksUsed = kept == 0 ? 0 : (lines_.back().position >> kChunkShift) + 1;
    chunks_.resize(chunksUsed);
    tailUsed_ = chunksUsed == 0 ? 0 : out - ((chunksUsed - 1) << kChunkShift);

    selectedCount_ = 0;
    selectedFirst_ = 0;
    selectedLast_ = -1;
    caret_ = anchor_ = kept == 0 ? -1 : std::min(firstCut, Count() - 1);
    FindLongest();
    Sync();
}

// ---- Keys and mouse ----

void CDataList::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        // With Ctrl held only these three do anything: no Ctrl+Home, no Ctrl+character.
        switch (event->key()) {
            case Qt::Key_A:
                SelectAll();
                break;
            case Qt::Key_C:
                Copy();
                break;
            case Qt::Key_X:
                Cut();
                break;
            default:
                break;
        }
        event->accept();
        return;
    }
    const int from = caret_;
    const int page = VisibleRows();
    int to;
    switch (event->key()) {
        case Qt::Key_Up:
            to = from - 1;
            break;
        case Qt::Key_Down:
            to = from < 0 ? 0 : from + 1;
            break;
        case Qt::Key_PageUp:
            to = from - page;
            break;
        case Qt::Key_PageDown:
            to = from < 0 ? 0 : from + page;
            break;
        case Qt::Key_Home:
            to = 0;
            break;
        case Qt::Key_End:
            to = Count() - 1;
            break;
        case Qt::Key_Left:
        case Qt::Key_Right:
            // Long lines: the keyboard scrolls sideways as the scroll bar does.
            horizontalScrollBar()->triggerAction(event->key() == Qt::Key_Left
                                                     ? QAbstractSlider::SliderSingleStepSub
                                                     : QAbstractSlider::SliderSingleStepAdd);
            event->accept();
            return;
        default:
            // Enter and Escape go on to the window.
            event->ignore();
            return;
    }
    if (Count() > 0)
        MoveCaret(to, event->modifiers() & Qt::ShiftModifier);
    event->accept();
}

void CDataList::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const int row = RowAt(event->position().toPoint().y());
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (row < 0) {
        if (!shift && !control)
            ClearSelection();
    } else if (shift) {
        if (anchor_ < 0)
            anchor_ = caret_ >= 0 ? caret_ : row;
        caret_ = row;
        if (!control)
            ClearSelection();
        for (int r = std::min(anchor_, row); r <= std::max(anchor_, row); ++r)
            Mark(r, true);
    } else if (control) {
        Mark(row, !IsSelected(row));
        caret_ = anchor_ = row;
    } else {
        caret_ = anchor_ = row;
        SelectOnly(row, row);
    }
    viewport()->update();
    AnnounceCaret();
}

void CDataList::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || (event->modifiers() & Qt::ControlModifier) || anchor_ < 0 ||
        Count() == 0)
        return;
    // Dragging above or below the list pulls the next line into view.
    const int y = event->position().toPoint().y();
    const int row = std::clamp(y < 0 ? TopIndex() - 1 : TopIndex() + y / rowHeight_, 0, Count() - 1);
    if (row == caret_)
        return;
    caret_ = row;
    SelectOnly(anchor_, row);
    EnsureVisible(row);
    viewport()->update();
}

void CDataList::mouseReleaseEvent(QMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton);
}

void CDataList::contextMenuEvent(QContextMenuEvent* event) {
    // The menu acts on what is selected; a click beside the selection selects its line.
    if (event->reason() == QContextMenuEvent::Mouse) {
        const int row = RowAt(event->pos().y());
        if (row >= 0 && !IsSelected(row)) {
            caret_ = anchor_ = row;
            SelectOnly(row, row);
            viewport()->update();
        }
    }
    copyAction_->setEnabled(selectedCount_ > 0);
    menu_->popup(event->globalPos());
}

bool CDataList::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QAbstractScrollArea::viewportEvent(event);
    // A line cut off at either side shows whole in its tooltip, wrapped, blanks kept, in the
    // list's font so that columns of a dump line up.
    const auto* help = static_cast<QHelpEvent*>(event);
    const int row = RowAt(help->pos().y());
    const QString text = Text(row);
    const int across = horizontalScrollBar()->value();
    if (row >= 0 &&
        (across > 0 || kTextMargin + fontMetrics().horizontalAdvance(text) > viewport()->width())) {
        const QRect rect = RowRect(row);
        const QString html = QStringLiteral("<p style='white-space:pre-wrap; font-family:\"%1\"'>%2</p>")
                                 .arg(font().family().toHtmlEscaped(), text.toHtmlEscaped());
        QToolTip::showText(help->globalPos(), html, viewport(), rect);
    } else {
        QToolTip::hideText();
    }
    return true;
}
