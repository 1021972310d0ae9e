// The list of log lines in the diagnostics window: lines in arrival order, extended
// selection, and Ctrl+A / Ctrl+C / Ctrl+X to select all, copy and cut. Lines are kept as
// 8-bit text; the list has no limit of its own.
#pragma once

#include <QAbstractListModel>
#include <QTimer>
#include <QTreeView>
#include <string>
#include <string_view>
#include <vector>

// The lines. A line is part of the list as soon as it is added (Count, Text); the view hears
// of new lines in batches, at most every kPublishIntervalMs, because a view lays out all its
// rows again after each insertion and a busy link adds thousands of lines a second.
class LogLineModel final : public QAbstractListModel {
    Q_OBJECT
  public:
    static constexpr int kPublishIntervalMs = 30;

    explicit LogLineModel(QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    void Append(std::string_view line);
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& Line(int row) const { return lines_[static_cast<size_t>(row)]; }
    // Tells the view about every line added so far.
    void Publish();

  signals:
    void published();

  private:
    std::vector<std::string> lines_;
    int shown_ = 0;  // lines the view knows of
    QTimer publishTimer_;
};

// A flat tree view with uniform rows: it scrolls in constant time however long the log grows.
class CDataList : public QTreeView {
    Q_OBJECT
  public:
    explicit CDataList(QWidget* parent = nullptr);

    // Appends a line at the end; returns its row.
    int AddString(std::string_view line);
    int Count() const;
    QString Text(int row) const;
    // Scrolls so that `row` is the first visible line, or as far down as the list goes.
    void SetTopIndex(int row);
    // Keeps the newest line in view as lines arrive.
    void FollowNewest();
    // Rows selected, in list order.
    QList<int> SelectedRows() const;

  public slots:
    // The selected lines in list order, each followed by CR LF, as the clipboard's text.
    void Copy();
    // Copy, then remove the selected lines from the list.
    void Cut();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    LogLineModel* model_;
    int pendingTop_ = -1;  // SetTopIndex waiting for its row to reach the view
    bool followNewest_ = false;
};
