// The list of log lines in the diagnostics window: lines in arrival order, extended
// selection, and Ctrl+A / Ctrl+C / Ctrl+X to select all, copy and cut. Lines are kept as
// 8-bit text and shown as Latin-1; the list has no limit of its own. A line wider than the list
// scrolls sideways. Screen readers see a list whose items are the lines.
//
// A busy link adds thousands of lines a second and the window may stay open for days, so
// nothing here grows with the line count except the storage itself: text goes into fixed
// chunks that never move, each line costs one 8-byte record (its place, its length and its
// selection mark), rows share one height, and a paint draws only the rows in view.
#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QList>
#include <QString>
#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

class QMenu;

class CDataList : public QAbstractScrollArea {
    Q_OBJECT
  public:
    // Longer text is cut to this (log lines are far shorter).
    static constexpr int kMaxLineLength = 0xFFFF;

    explicit CDataList(QWidget* parent = nullptr);
    ~CDataList() override;

    // Appends a line at the end; returns its row, or -1 when there is no memory for it.
    int AddString(std::string_view line);
    int Count() const { return static_cast<int>(lines_.size()); }
    // The line's bytes; they stay where they are until lines are cut.
    std::string_view Line(int row) const;
    QString Text(int row) const;
    // Scrolls so that `row` is the first visible line, or as far down as the list goes.
    void SetTopIndex(int row);
    int TopIndex() const;
    // Scrolls as far down as the list goes, so the newest line is in view.
    void FollowNewest();

    // Rows selected, in list order.
    QList<int> SelectedRows() const;
    bool IsSelected(int row) const;
    void SetSelected(int row, bool selected);
    // The caret: the line the keyboard moves from; -1 before there is one.
    int CurrentRow() const { return caret_; }
    void SetCurrentRow(int row);
    // The row drawn at height `y` of the viewport, or -1 below the last line.
    int RowAt(int y) const;
    int RowHeight() const { return rowHeight_; }
    // Copy, Select All and Save Log As...; the last emits saveLogRequested.
    QMenu* ContextMenu() const { return menu_; }
    // Where row `row` is drawn, in the viewport's coordinates (empty when it is out of view).
    QRect RowRect(int row) const;

  public slots:
    // The selected lines in list order, each followed by CR LF, as the clipboard's text.
    void Copy();
    // Copy, then remove the selected lines from the list.
    void Cut();
    // Selects every line; the caret stays where it is.
    void SelectAll();

  signals:
    void saveLogRequested();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    // A line's place in the chunks, its length and whether it is selected.
    struct LineRecord {
        uint64_t position : 47;
        uint64_t selected : 1;
        uint64_t length : 16;
    };
    static constexpr int kChunkShift = 18;  // 256 KiB; a line never spans two chunks
    static constexpr size_t kChunkBytes = size_t{1} << kChunkShift;

    const char* TextAt(uint64_t position) const;
    char* TextAt(uint64_t position);
    int VisibleRows() const;  // rows that fit whole
    void UpdateScrollRange();
    void ScheduleSync();
    // Brings the scroll bar up to date with the lines and a pending FollowNewest.
    void Sync();
    void EnsureVisible(int row);
    void ClearSelection();
    // Selects `first` to `last` (either order) and nothing else.
    void SelectOnly(int first, int last);
    void Mark(int row, bool selected);
    void MoveCaret(int row, bool extend);
    // Tells a screen reader which line has the caret.
    void AnnounceCaret();
    // The longest line, whose width sets the sideways scroll range.
    void FindLongest();

    std::vector<std::unique_ptr<char[]>> chunks_;
    size_t tailUsed_ = 0;  // bytes used in the last chunk
    std::deque<LineRecord> lines_;

    // Selected rows all lie within [selectedFirst_, selectedLast_], so clearing and copying
    // look only there.
    int selectedCount_ = 0;
    int selectedFirst_ = 0;
    int selectedLast_ = -1;
    int caret_ = -1;
    int anchor_ = -1;        // where a shift selection starts
    int longest_ = -1;       // the row of the longest line
    int longestWidth_ = -1;  // its width in pixels; -1 until measured

    QBasicTimer syncTimer_;
    bool followPending_ = false;

    int rowHeight_ = 1;
    QMenu* menu_;
    QAction* copyAction_;
};

// The list's accessibility interface (data_list_access.cpp): made for every CDataList, rows as
// list items.
void InstallDataListAccessibility();
