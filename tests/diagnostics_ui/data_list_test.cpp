// The log list: selection keys, the clipboard's text, cutting.
#include <QClipboard>
#include <QtTest>

#include "diagnostics/ui/data_list.h"

class DataListTest : public QObject {
    Q_OBJECT

    CDataList* list_ = nullptr;

    void Fill(int n) {
        for (int i = 1; i <= n; ++i)
            list_->AddString(QString("12:00:00.%1 line %2").arg(i, 3, 10, QChar('0')).arg(i).toStdString());
    }
    void Select(std::initializer_list<int> rows) {
        list_->clearSelection();
        for (int r : rows)
            list_->selectionModel()->select(list_->model()->index(r, 0), QItemSelectionModel::Select);
    }

  private slots:
    void init() {
        list_ = new CDataList;
        list_->resize(400, 200);
        list_->show();
        QVERIFY(QTest::qWaitForWindowExposed(list_));
        Fill(8);
        QTRY_COMPARE(list_->model()->rowCount(), 8);  // the view hears of lines in batches
        QApplication::clipboard()->setText("before");
    }
    void cleanup() { delete list_; }

    void copySelectedLinesWithCrLf() {
        Select({4, 1});  // lines 2 and 5, selected out of order
        QTest::keyClick(list_, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(),
                 QString("12:00:00.002 line 2\r\n12:00:00.005 line 5\r\n"));
        QCOMPARE(list_->Count(), 8);
    }

    void cutRemovesOnlySelectedLines() {
        Select({1, 4});
        QTest::keyClick(list_, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(),
                 QString("12:00:00.002 line 2\r\n12:00:00.005 line 5\r\n"));
        QCOMPARE(list_->Count(), 6);
        QStringList left;
        for (int i = 0; i < list_->Count(); ++i)
            left << list_->Text(i).section(' ', 2);
        QCOMPARE(left, (QStringList{"1", "3", "4", "6", "7", "8"}));

        // A run of neighbours and a line apart, cut together.
        Select({0, 1, 2, 5});
        list_->Cut();
        QCOMPARE(list_->Count(), 2);
        QCOMPARE(list_->Text(0).section(' ', 2), QString("6"));
        QCOMPARE(list_->Text(1).section(' ', 2), QString("7"));
    }

    void selectAllKeepsTheCaret() {
        list_->setCurrentIndex(list_->model()->index(3, 0));
        QTest::keyClick(list_, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(list_->SelectedRows().size(), 8);
        QCOMPARE(list_->currentIndex().row(), 3);
        list_->Copy();
        QCOMPARE(QApplication::clipboard()->text().count("\r\n"), 8);
    }

    void otherControlKeysDoNothing() {
        list_->setCurrentIndex(list_->model()->index(5, 0));
        Select({5});
        QTest::keyClick(list_, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(list_, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(list_, Qt::Key_Insert, Qt::ControlModifier);  // the view's own copy key
        QTest::keyClick(list_, Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(list_->currentIndex().row(), 5);
        QCOMPARE(list_->SelectedRows(), QList<int>{5});
        QCOMPARE(QApplication::clipboard()->text(), QString("before"));

        QTest::keyClick(list_, Qt::Key_Home);
        QCOMPARE(list_->currentIndex().row(), 0);
    }

    void linesCountAtOnceAndReachTheViewInBatches() {
        Select({7});
        for (int i = 0; i < 1000; ++i)
            list_->AddString("more");
        QCOMPARE(list_->Count(), 1008);
        QCOMPARE(list_->Text(1007), QString("more"));
        QCOMPARE(list_->model()->rowCount(), 8);
        list_->FollowNewest();
        QTRY_COMPARE(list_->model()->rowCount(), 1008);
        QCOMPARE(list_->SelectedRows(), QList<int>{7});  // the selection stays on its line
        QTRY_VERIFY(list_->visualRect(list_->model()->index(1007, 0)).bottom() <=
                    list_->viewport()->height());
        QVERIFY(list_->visualRect(list_->model()->index(1007, 0)).isValid());
        // Select-all and cut take in lines the view has not shown yet.
        list_->AddString("last");
        QTest::keyClick(list_, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(list_->SelectedRows().size(), 1009);
        list_->Cut();
        QCOMPARE(list_->Count(), 0);
        QVERIFY(QApplication::clipboard()->text().endsWith("more\r\nlast\r\n"));
    }

    void nothingSelectedCopiesEmptyText() {
        list_->clearSelection();
        list_->Copy();
        QCOMPARE(QApplication::clipboard()->text(), QString());
    }
};

QTEST_MAIN(DataListTest)
#include "data_list_test.moc"
