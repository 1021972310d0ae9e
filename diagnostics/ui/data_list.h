// The list of log lines in the diagnostics window: lines in arrival order, extended
// selection, and Ctrl+A / Ctrl+C / Ctrl+X to select all, copy and cut. Lines are kept as
// 8-bit text; the list has no limit of its own.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <string>
#include <string_view>
#include <vector>

class LogLineModel final : public QAbstractListModel {
    Q_OBJECT
  public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    void Append(std::string_view line);
    const std::string& Line(int row) const { return lines_[static_cast<size_t>(row)]; }

  private:
    std::vector<std::string> lines_;
};

class CDataList : public QListView {
    Q_OBJECT
  public:
    explicit CDataList(QWidget* parent = nullptr);

    // Appends a line at the end; returns its row.
    int AddString(std::string_view line);
    int Count() const;
    QString Text(int row) const;
    // Scrolls so that `row` is the first visible line, or as far down as the list goes.
    void SetTopIndex(int row);
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
};
