#include "diagnostics/ui/data_list.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <algorithm>

LogLineModel::LogLineModel(QObject* parent) : QAbstractListModel(parent) {
    publishTimer_.setSingleShot(true);
    publishTimer_.setInterval(kPublishIntervalMs);
    connect(&publishTimer_, &QTimer::timeout, this, &LogLineModel::Publish);
}

int LogLineModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

QVariant LogLineModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_)
        return QVariant();
    const std::string& line = lines_[static_cast<size_t>(index.row())];
    return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
}

bool LogLineModel::removeRows(int row, int count, const QModelIndex& parent) {
    Publish();
    if (parent.isValid() || row < 0 || count <= 0 || row + count > shown_)
        return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    lines_.erase(lines_.begin() + row, lines_.begin() + row + count);
    shown_ -= count;
    endRemoveRows();
    return true;
}

void LogLineModel::Append(std::string_view line) {
    lines_.emplace_back(line);
    if (!publishTimer_.isActive())
        publishTimer_.start();
}

void LogLineModel::Publish() {
    publishTimer_.stop();
    const int total = Count();
    if (shown_ == total)
        return;
    beginInsertRows(QModelIndex(), shown_, total - 1);
    shown_ = total;
    endInsertRows();
    emit published();
}

CDataList::CDataList(QWidget* parent) : QTreeView(parent), model_(new LogLineModel(this)) {
    setModel(model_);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(model_, &LogLineModel::published, this, [this] {
        if (followNewest_) {
            followNewest_ = false;
            scrollToBottom();
        } else if (pendingTop_ >= 0 && pendingTop_ < model_->rowCount()) {
            scrollTo(model_->index(pendingTop_), QAbstractItemView::PositionAtTop);
        }
        pendingTop_ = -1;
    });
}

int CDataList::AddString(std::string_view line) {
    model_->Append(line);
    return model_->Count() - 1;
}

int CDataList::Count() const {
    return model_->Count();
}

QString CDataList::Text(int row) const {
    if (row < 0 || row >= Count())
        return QString();
    const std::string& line = model_->Line(row);
    return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
}

void CDataList::SetTopIndex(int row) {
    if (row < 0 || row >= Count())
        return;
    if (row < model_->rowCount()) {
        scrollTo(model_->index(row), QAbstractItemView::PositionAtTop);
    } else {
        pendingTop_ = row;
    }
}

void CDataList::FollowNewest() {
    followNewest_ = true;
}

QList<int> CDataList::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CDataList::Copy() {
    QClipboard* clipboard = QApplication::clipboard();
    if (clipboard == nullptr)
        return;
    std::string text;
    for (int row : SelectedRows()) {
        text += model_->Line(row);
        text += "\r\n";
    }
    clipboard->clear();
    clipboard->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void CDataList::Cut() {
    const QList<int> rows = SelectedRows();
    Copy();
    // From the last selected line upwards, so the rows still to go keep their numbers; runs of
    // neighbours go in one step.
    qsizetype i = rows.size() - 1;
    while (i >= 0) {
        qsizetype first = i;
        while (first > 0 && rows[first - 1] == rows[first] - 1)
            --first;
        model_->removeRows(rows[first], static_cast<int>(i - first + 1));
        i = first - 1;
    }
}

void CDataList::keyPressEvent(QKeyEvent* event) {
    if ((event->modifiers() & Qt::ControlModifier) == 0) {
        QTreeView::keyPressEvent(event);
        return;
    }
    // With Ctrl held only these three do anything; the view's own Ctrl keys (its copy of the
    // current line, Ctrl+Home, typing search) stay out of the way.
    switch (event->key()) {
        case Qt::Key_A:
            model_->Publish();
            selectAll();  // the current line stays where it was
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
}
