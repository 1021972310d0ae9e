#include "shell/icon_combo.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>

namespace {

// Draws the list entries: icon at the item's left + iconLeft, text after textGap + iconSize;
// the selection colour fills the text part only.
class IconItemDelegate final : public QStyledItemDelegate {
  public:
    explicit IconItemDelegate(CWComboIconBox* combo) : QStyledItemDelegate(combo), combo_(combo) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (index.row() < 0 || index.row() >= combo_->count())
            return;
        const IconComboItem* record = combo_->ItemRecord(index.row());
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QPalette& pal = option.palette;
        QRect textRect = option.rect;
        textRect.setLeft(option.rect.left() + combo_->TextGap() + combo_->IconSize());
        painter->save();
        painter->fillRect(textRect, selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
        if (record != nullptr && !record->icon.isNull()) {
            const QRect iconRect(option.rect.left() + combo_->IconLeft(), option.rect.top(),
                                 combo_->IconSize(), combo_->IconSize());
            record->icon.paint(painter, iconRect);
        }
        painter->setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
        const QString text = record != nullptr ? record->text : index.data().toString();
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }

  private:
    CWComboIconBox* combo_;
};

}  // namespace

CWEditIconBox::CWEditIconBox(CWComboIconBox* combo) : QWidget(combo) {
    // Clicks belong to the combo underneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CWEditIconBox::paintEvent(QPaintEvent*) {
    auto* combo = qobject_cast<CWComboIconBox*>(parentWidget());
    if (combo == nullptr)
        return;
    const int current = combo->currentIndex();
    if (current < 0)
        return;
    const IconComboItem* record = combo->ItemRecord(current);
    if (record == nullptr)
        return;
    const int size = combo->IconSize();
    const int gap = combo->TextGap();
    QPainter painter(this);
    const QRect client = rect();
    painter.fillRect(client, palette().color(QPalette::Base));
    if (!record->icon.isNull()) {
        record->icon.paint(&painter, QRect(client.left() + gap, client.top(), size, size));
    }
    QRect textRect = client;
    textRect.setLeft(client.left() + gap + size + gap);
    painter.setFont(combo->font());
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, record->text);
}

CWComboIconBox::CWComboIconBox(QWidget* parent) : QComboBox(parent) {
    setItemDelegate(new IconItemDelegate(this));
    selectionView = new CWEditIconBox(this);
    selectionView->show();
    connect(this, &QComboBox::currentIndexChanged, selectionView, qOverload<>(&QWidget::update));
    PlaceSelectionView();
}

void CWComboIconBox::AddItem(IconComboItem* record) {
    addItem(record != nullptr ? record->text : QString(),
            QVariant::fromValue(reinterpret_cast<quintptr>(record)));
}

IconComboItem* CWComboIconBox::ItemRecord(int index) const {
    if (index < 0 || index >= count())
        return nullptr;
    return reinterpret_cast<IconComboItem*>(itemData(index).value<quintptr>());
}

int CWComboIconBox::SetCurSel(int index) {
    if (index < 0 || index >= count())
        return 1;
    setCurrentIndex(index);
    selectionView->update();
    return index;
}

QRect CWComboIconBox::EditFieldRect() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
}

void CWComboIconBox::PlaceSelectionView() {
    const QRect field = EditFieldRect();
    // editInset pixels inside the field's top-left corner, never over the arrow or the frame.
    selectionView->setGeometry(field.translated(editInset, editInset).intersected(field));
    selectionView->update();
}

void CWComboIconBox::resizeEvent(QResizeEvent* event) {
    QComboBox::resizeEvent(event);
    PlaceSelectionView();
}

void CWComboIconBox::paintEvent(QPaintEvent*) {
    // The frame and arrow only: the selection view draws the entry.
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
}
