// A combo box that draws a small icon before the text of every entry, in its list and in its
// closed field. The closed field is painted by a CWEditIconBox laid over the combo's edit
// field.
#pragma once

#include <QComboBox>
#include <QIcon>
#include <QString>
#include <QWidget>

// The record every entry carries as item data (a pointer, owned by whoever fills the combo and
// kept alive as long as the entry exists).
struct IconComboItem {
    int item = 0;        // the entry's list index
    QString text;        // what is drawn
    int textLength = 0;  // length of text
    int image = 0;       // image number
    QIcon icon;          // null: text only, at the same position
};

class CWComboIconBox;

// The closed field's view of the current entry.
class CWEditIconBox : public QWidget {
    Q_OBJECT
  public:
    explicit CWEditIconBox(CWComboIconBox* combo);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

class CWComboIconBox : public QComboBox {
    Q_OBJECT
  public:
    explicit CWComboIconBox(QWidget* parent = nullptr);

    // Adds an entry carrying `record` (not owned).
    void AddItem(IconComboItem* record);
    // The record of entry `index`, or null.
    IconComboItem* ItemRecord(int index) const;

    // Selects `index`. An index outside the list, -1 included, returns 1 and leaves the
    // selection as it was; otherwise returns the index.
    int SetCurSel(int index);

    int IconSize() const { return iconSize; }
    int TextGap() const { return textGap; }
    int IconLeft() const { return iconLeft; }
    int EditInset() const { return editInset; }
    CWEditIconBox* SelectionView() const { return selectionView; }
    // The closed field's text area in combo coordinates (the selection view sits inside it).
    QRect EditFieldRect() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void PlaceSelectionView();

    int iconSize = 16;
    int textGap = 5;
    int iconLeft = 2;
    int editInset = 3;
    CWEditIconBox* selectionView = nullptr;
};
