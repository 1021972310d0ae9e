// What a screen reader sees of the log list: a list whose items are the lines, each with its
// text, the caret's line focused and selected lines selected. Rows are made when a reader asks
// for them, so a long log costs nothing while no reader looks; a row stands for a place in the
// list and reads the line that is there now, so cutting lines needs no bookkeeping.
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QScrollBar>

#include "diagnostics_ui/data_list.h"

namespace {

class DataListRow final : public QAccessibleInterface {
  public:
    DataListRow(CDataList* list, int row) : list_(list), row_(row) {}

    bool isValid() const override { return list_ != nullptr && row_ < list_->Count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ != nullptr ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(list_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? list_->Text(row_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return QRect();
        const QRect rect = list_->RowRect(row_);
        return rect.isEmpty() ? QRect() : QRect(list_->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.selectable = true;
        state.focusable = true;
        if (!isValid())
            return state;
        state.selected = list_->IsSelected(row_);
        state.focused = list_->hasFocus() && list_->CurrentRow() == row_;
        state.invisible = state.offscreen = list_->RowRect(row_).isEmpty();
        return state;
    }
    int Row() const { return row_; }

  private:
    QPointer<CDataList> list_;
    int row_;
};

class DataListAccessible final : public QAccessibleWidget {
  public:
    explicit DataListAccessible(CDataList* list) : QAccessibleWidget(list, QAccessible::List) {}
    ~DataListAccessible() override {
        for (const QAccessible::Id id : std::as_const(rows_))
            QAccessible::deleteAccessibleInterface(id);
    }

    CDataList* List() const { return static_cast<CDataList*>(widget()); }

    int childCount() const override { return List()->Count(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= List()->Count())
            return nullptr;
        if (const auto found = rows_.constFind(index); found != rows_.constEnd())
            if (QAccessibleInterface* row = QAccessible::accessibleInterface(*found))
                return row;
        auto* row = new DataListRow(List(), index);
        rows_.insert(index, QAccessible::registerAccessibleInterface(row));
        return row;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* row = dynamic_cast<const DataListRow*>(child);
        return row != nullptr && row->isValid() ? row->Row() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint at = List()->viewport()->mapFromGlobal(QPoint(x, y));
        if (!List()->viewport()->rect().contains(at))
            return nullptr;
        const int row = List()->RowAt(at.y());
        return row < 0 ? nullptr : child(row);
    }
    QAccessibleInterface* focusChild() const override {
        return List()->hasFocus() && List()->CurrentRow() >= 0 ? child(List()->CurrentRow()) : nullptr;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.multiSelectable = state.extSelectable = true;
        return state;
    }

  private:
    mutable QHash<int, QAccessible::Id> rows_;
};

QAccessibleInterface* MakeInterface(const QString& className, QObject* object) {
    if (className == QLatin1String("CDataList") && object != nullptr && object->isWidgetType())
        return new DataListAccessible(static_cast<CDataList*>(object));
    return nullptr;
}

}  // namespace

void InstallDataListAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeInterface);
        return true;
    }();
    (void)installed;
}
