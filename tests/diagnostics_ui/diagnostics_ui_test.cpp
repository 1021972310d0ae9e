// The diagnostics window's pieces: the log list (selection by keys and mouse, the clipboard's text,
// cutting, the tooltip of a long line, the context menu), the kept log written to a file, and
// hexadecimal typed as a message, byte for byte.
#include <QAccessible>
#include <QClipboard>
#include <QMenu>
#include <QScrollBar>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QtTest>
#include <cstring>
#include <numeric>
#include <string>

#include "diagnostics/log_history.h"
#include "diagnostics/typed_message.h"
#include "diagnostics_ui/data_list.h"
#include "diagnostics_ui/log_file.h"

namespace {

QByteArray Parse(const std::string& text, bool start, bool checksum) {
    uint8_t out[kTypedMessageMaxLength];
    const int n = ParseTypedMessage(text, start, checksum, out);
    return QByteArray(reinterpret_cast<const char*>(out), n);
}

// Counts the paint events of what it watches.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

}  // namespace

class DiagnosticsUiTest : public QObject {
    Q_OBJECT

    CDataList* list_ = nullptr;

    QPoint RowPoint(int row) const {
        return {20, (row - list_->TopIndex()) * list_->RowHeight() + list_->RowHeight() / 2};
    }
    // One key ("Shift+PgDown") or click on a row ("Ctrl+Click8").
    void Press(const QString& input) {
        const int click = input.indexOf("Click");
        const QKeyCombination key = QKeySequence(click < 0 ? input : input.left(click) + "A")[0];
        if (click < 0)
            QTest::keyClick(list_, key.key(), key.keyboardModifiers());
        else
            QTest::mouseClick(list_->viewport(), Qt::LeftButton, key.keyboardModifiers(),
                              RowPoint(input.mid(click + 5).toInt()));
    }
    static QList<int> Rows(int first, int last) {
        QList<int> rows(last - first + 1);
        std::iota(rows.begin(), rows.end(), first);
        return rows;
    }

  private slots:
    void init() {
        list_ = new CDataList;
        list_->show();
        list_->resize(400, 10 * list_->RowHeight() + 2 * list_->frameWidth());  // ten rows in view
        QVERIFY(QTest::qWaitForWindowExposed(list_));
        for (int i = 1; i <= 50; ++i)
            list_->AddString(QString("12:00:00.%1 line %2").arg(i, 3, 10, QChar('0')).arg(i).toStdString());
        QApplication::clipboard()->setText("before");
    }
    void cleanup() { delete list_; }

    void keysAndClicks_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("caret");
        QTest::newRow("shift down") << "Shift+Down Shift+Down" << Rows(5, 7) << 7;
        QTest::newRow("shift back, then plain") << "Shift+Down Shift+Down Shift+Up Up" << QList<int>{5} << 5;
        QTest::newRow("page down") << "PgDown" << QList<int>{15} << 15;
        QTest::newRow("page up stops at the top") << "PgUp" << QList<int>{0} << 0;
        QTest::newRow("shift page down") << "Shift+PgDown" << Rows(5, 15) << 15;
        QTest::newRow("end, home") << "End Home" << QList<int>{0} << 0;
        QTest::newRow("shift end") << "Shift+End" << Rows(5, 49) << 49;
        QTest::newRow("ctrl keys ignored")
            << "Ctrl+Home Ctrl+End Ctrl+Down Ctrl+PgDown Ctrl+Ins Ctrl+1" << QList<int>{5} << 5;
        QTest::newRow("ctrl+a keeps the caret") << "Ctrl+A" << Rows(0, 49) << 5;
        QTest::newRow("shift click") << "Shift+Click8" << Rows(5, 8) << 8;
        QTest::newRow("shift click upwards") << "Shift+Click8 Shift+Click2" << Rows(2, 5) << 2;
        QTest::newRow("ctrl click adds") << "Ctrl+Click8" << QList<int>{5, 8} << 8;
        QTest::newRow("ctrl click takes away") << "Ctrl+Click8 Ctrl+Click5" << QList<int>{8} << 5;
        QTest::newRow("shift click from a ctrl click") << "Ctrl+Click8 Shift+Click9" << Rows(8, 9) << 9;
        QTest::newRow("shift click from the first line") << "Click0 Shift+Click3" << Rows(0, 3) << 3;
    }
    void keysAndClicks() {
        QFETCH(QString, input);
        QFETCH(QList<int>, selected);
        QFETCH(int, caret);
        Press("Click5");
        for (const QString& token : input.split(' '))
            Press(token);
        QCOMPARE(list_->SelectedRows(), selected);
        QCOMPARE(list_->CurrentRow(), caret);
        QVERIFY(list_->TopIndex() <= caret && caret < list_->TopIndex() + 10);  // the caret stays in view
        const QImage shot = list_->viewport()->grab().toImage();  // the selected rows drawn highlighted
        for (int row = 0; row < 10; ++row)
            QCOMPARE(
                shot.pixelColor(1, row * list_->RowHeight() + 1) != list_->palette().color(QPalette::Base),
                selected.contains(list_->TopIndex() + row));
        QCOMPARE(QApplication::clipboard()->text(), QString("before"));
    }

    void copyAndCutExactText() {
        list_->AddString("12:00:01.000 25\xB0 C");  // 8-bit text reads as Latin-1
        for (int row : {50, 4, 1})
            list_->SetSelected(row, true);
        QTest::keyClick(list_, Qt::Key_C, Qt::ControlModifier);
        const QString copied = "12:00:00.002 line 2\r\n12:00:00.005 line 5\r\n12:00:01.000 25\u00B0 C\r\n";
        QCOMPARE(QApplication::clipboard()->text(), copied);
        QApplication::clipboard()->setText("before");
        QTest::keyClick(list_, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), copied);
        QCOMPARE(list_->Count(), 48);
        QCOMPARE(list_->Text(1) + list_->Text(3) + list_->Text(47),
                 QString("12:00:00.003 line 312:00:00.006 line 612:00:00.050 line 50"));
    }

    void cutKeepsLongLinesWholeAcrossStorage() {
        // Lines of up to 3000 bytes fill several storage chunks; cutting every third line
        // moves the others down over chunk boundaries.
        QStringList expected;
        for (int i = 0; i < 400; ++i) {
            const std::string line(static_cast<size_t>(1000 + i * 5), static_cast<char>('a' + i % 26));
            list_->AddString(line);
            if (i % 3 != 0)
                expected << QString::fromStdString(line);
        }
        for (int row = 0; row < 450; ++row)
            list_->SetSelected(row, row < 50 || (row - 50) % 3 == 0);
        list_->Cut();
        list_->AddString("after the cut");
        QCOMPARE(list_->Count(), expected.size() + 1);
        for (int row = 0; row < expected.size(); ++row)
            QCOMPARE(list_->Text(row), expected[row]);
        QCOMPARE(list_->Text(expected.size()), QString("after the cut"));
    }

    // Appending copies only the new line: stored text never moves, however many lines there are.
    void appendingNeverMovesStoredLines() {
        const char* first = list_->Line(0).data();
        const std::string line(70, 'x');
        for (int i = 0; i < 200000; ++i)
            list_->AddString(line);
        QCOMPARE(list_->Line(0).data(), first);
        list_->FollowNewest();
        QCOMPARE(list_->TopIndex(), 200050 - 10);
    }

    void tooltipShowsACutLineWhole() {
        const QString longLine = "12:00:01.000 TX  <b>" + QString("0x55 ").repeated(200) + "end";
        list_->AddString(longLine.toStdString());
        list_->SetTopIndex(45);
        for (int row : {46, 50}) {  // a short line shows no tooltip
            QHelpEvent hover(QEvent::ToolTip, RowPoint(row), list_->viewport()->mapToGlobal(RowPoint(row)));
            QApplication::sendEvent(list_->viewport(), &hover);
            QCOMPARE(QToolTip::isVisible(), row == 50);
        }
        QCOMPARE(QTextDocumentFragment::fromHtml(QToolTip::text()).toPlainText(), longLine);
        QToolTip::hideText();
        // The list scrolls sideways as far as the longest line, by the keys too.
        QScrollBar* across = list_->horizontalScrollBar();
        QVERIFY(across->maximum() >
                list_->fontMetrics().horizontalAdvance(longLine) - list_->viewport()->width());
        QTest::keyClick(list_, Qt::Key_Right);
        QVERIFY(across->value() > 0);
    }

    // A screen reader sees a list of the lines: their number and texts, the caret's line.
    void screenReaderReadsTheLines() {
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(list_);
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(list->childCount(), 50);
        QAccessibleInterface* fifth = list->child(4);
        QCOMPARE(fifth->text(QAccessible::Name) + QString::number(list->indexOfChild(fifth)),
                 QString("12:00:00.005 line 54"));
        list_->setFocus();
        Press("Click3");
        QCOMPARE(list->focusChild()->text(QAccessible::Name), QString("12:00:00.004 line 4"));
        QVERIFY(list->focusChild()->state().selected && list->child(0)->state().selectable &&
                list->state().multiSelectable);
        const QPoint middle = list_->viewport()->mapToGlobal(RowPoint(2));
        QCOMPARE(list->childAt(middle.x(), middle.y()), list->child(2));
        QAccessibleInterface* last = list->child(49);
        list_->Cut();  // line 4 goes: the rows read the lines now in their places
        QCOMPARE(list->childCount(), 49);
        // The last place is gone: no index, no text; the list itself is no row of its own.
        QCOMPARE(QString::number(list->indexOfChild(last)) + last->text(QAccessible::Name) +
                     QString::number(list->indexOfChild(list)),
                 QString("-1-1"));
        QCOMPARE(list->child(3)->text(QAccessible::Name), QString("12:00:00.005 line 5"));
    }

    // The scroll bar's range follows the lines and the view's height; following the newest line
    // ends at the last page, at once for the rows drawn and for the scroll bar once it catches up.
    // Cutting the longest line narrows the sideways range to the longest one left; a list that fits
    // does not scroll, and a click below its last line selects nothing.
    void scrollRanges() {
        QScrollBar* bar = list_->verticalScrollBar();
        const auto range = [bar] {
            QCoreApplication::processEvents();
            return QString("%1 %2 %3").arg(bar->maximum()).arg(bar->pageStep()).arg(bar->value());
        };
        QCOMPARE(range(), QString("40 10 0"));
        list_->SetTopIndex(12);
        QCOMPARE(range(), QString("40 10 12"));
        PaintCounter counter;
        list_->viewport()->installEventFilter(&counter);
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);  // the scroll bar's arrow: one row
        QCOMPARE(range(), QString("40 10 13"));
        QTRY_VERIFY(counter.paints > 0);  // and the lines in view are drawn again
        list_->AddString("newest"), list_->FollowNewest();
        QCOMPARE(list_->TopIndex(), 41);  // before the scroll bar has caught up
        QCOMPARE(range(), QString("41 10 41"));
        list_->resize(400, 5 * list_->RowHeight() + 2 * list_->frameWidth());
        QCOMPARE(range(), QString("46 5 41"));
        // A larger font makes the rows taller; the font back, the rows are as they were.
        const QFont before = list_->font();
        const int height = list_->RowHeight();
        QFont larger = before;
        larger.setPointSize(40);
        list_->setFont(larger);
        QVERIFY(list_->RowHeight() > height && range().startsWith("50 1 "));
        list_->setFont(before);
        QCOMPARE(QString::number(list_->RowHeight()) + " " + range(), QString("%1 46 5 41").arg(height));

        list_->resize(400, 10 * list_->RowHeight() + 2 * list_->frameWidth());
        list_->AddString(std::string(300, 'w'));
        QVERIFY(range().startsWith("42 10 ") && list_->horizontalScrollBar()->maximum() > 0);
        for (int row = 3; row <= 51; ++row)
            list_->SetSelected(row, true);
        list_->Cut();
        // And, the events run, the sideways range.
        QCOMPARE(range() + QString::number(list_->horizontalScrollBar()->maximum()), QString("0 10 00"));
        counter.paints = 0;
        list_->AddString("a fourth line, in view");
        QTRY_VERIFY(counter.paints > 0);  // and drawn
        Press("Click1"), Press("Click5");
        QCOMPARE(list_->SelectedRows(), QList<int>{});
        QCOMPARE(list_->CurrentRow(), 1);  // the caret stays on a line
        // The caret's frame is drawn only with the focus: the rows are drawn anew as it goes and comes.
        QApplication::setActiveWindow(list_);
        QVERIFY(QTest::qWaitForWindowActive(list_));
        for (const bool focus : {false, true}) {
            QTest::qWait(50);
            counter.paints = 0;
            focus ? list_->setFocus() : list_->clearFocus();
            QTRY_VERIFY(counter.paints > 0);
        }
        // Every line cut: nothing is selected; then a long first line stays the longest.
        list_->SelectAll();
        list_->Cut();
        QCOMPARE(list_->SelectedRows(), QList<int>{});
        list_->AddString(std::string(300, 'w')), list_->AddString("short");
        QTRY_VERIFY(list_->horizontalScrollBar()->maximum() > 0);
    }

    void contextMenuActions() {
        QContextMenuEvent event(QContextMenuEvent::Mouse, RowPoint(3),
                                list_->viewport()->mapToGlobal(RowPoint(3)));
        QApplication::sendEvent(list_->viewport(), &event);
        QMenu* menu = list_->ContextMenu();
        QTRY_VERIFY(menu->isVisible());
        menu->close();
        QCOMPARE(list_->SelectedRows(), QList<int>{3});  // the clicked line
        QList<QAction*> actions = menu->actions();
        actions.removeIf([](QAction* a) { return a->isSeparator(); });
        QCOMPARE(actions[0]->text() + "|" + actions[1]->text() + "|" + actions[2]->text(),
                 QString("Copy|Select All|Save Log As..."));
        actions[0]->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QString("12:00:00.004 line 4\r\n"));
        actions[1]->trigger();
        QCOMPARE(list_->SelectedRows(), Rows(0, 49));
        QCOMPARE(list_->CurrentRow(), 3);
        QSignalSpy save(list_, &CDataList::saveLogRequested);
        actions[2]->trigger();
        QCOMPARE(save.count(), 1);
    }

    void historyFileKeepsBytesAndReportsFailure() {
        LogHistory history;
        char block[kLogLineBlockSize] = "12:00:00.000 25\xB0";
        const char empty[kLogLineBlockSize] = {};
        history.Store(block);
        history.Store(empty);
        QTemporaryDir dir;
        QVERIFY(WriteLogHistory(history, dir.filePath("log.txt")));
        QFile file(dir.filePath("log.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("12:00:00.000 25\xB0\r\n\r\n"));
        QVERIFY(!WriteLogHistory(history, dir.filePath("missing/log.txt")));
    }

    // What the window says beside the send of bytes that are not one well-formed frame.
    void frameRemarks() {
        const std::pair<const char*, const char*> cases[] = {
            {"010700F8", ""},
            {"",
             "0 bytes are no whole frame (start byte, opcode, length, checksum): the camera may wait for "
             "more"},
            {"01",
             "1 byte is no whole frame (start byte, opcode, length, checksum): the camera may wait for more"},
            {"0107AFF8",
             "the length byte announces 175 payload bytes, 0 follow: the camera may wait for more"},
            {"01070000F8",
             "the length byte announces 0 payload bytes, 1 follow: the camera may take the rest for "
             "the next frame"},
            {"01070000", "the checksum is 00, the bytes before it need F8: the camera drops the frame"},
            {"020700F7",
             "the first byte is 02, not the start byte 01: the camera skips bytes until it sees one"},
        };
        for (const auto& [hex, remark] : cases) {
            const QByteArray bytes = QByteArray::fromHex(hex);
            char text[300] = "unchanged";
            const int problem = DescribeFrameProblem(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                                     static_cast<int>(bytes.size()), text, sizeof text);
            QCOMPARE(QString(problem != 0 ? text : ""), QString(remark));
        }
        // A shorter buffer holds as much of a remark as fits, ended, and nothing past it; the problem
        // is reported all the same.
        const uint8_t twice[] = {0x02, 0x07, 0x00, 0x00};
        char whole[300];
        DescribeFrameProblem(twice, 4, whole, sizeof whole);
        for (size_t size = 0; size <= std::strlen(whole) + 1; ++size) {
            std::string text(size + 1, 'z');
            QCOMPARE(DescribeFrameProblem(twice, 4, text.data(), size), 1);
            const std::string fits = size == 0 ? "" : std::string(whole, size - 1) + '\0';
            QCOMPARE(QByteArray::fromStdString(text), QByteArray::fromStdString(fits + 'z'));
        }
    }

    void longTextStopsAt256Bytes() {
        std::string text;
        for (int i = 0; i < 600; ++i)
            text += "A5 ";
        QCOMPARE(Parse(text, false, false), QByteArray(256, char(0xA5)));

        QByteArray framed = Parse(text, true, true);
        QCOMPARE(framed.size(), 257);
        QCOMPARE(uint8_t(framed[0]), uint8_t(0x01));
        QCOMPARE(framed.count(char(0xA5)), 255);
        uint8_t sum = 0;
        for (char c : framed)
            sum = uint8_t(sum + uint8_t(c));
        QCOMPARE(sum, uint8_t(0));  // the checksum makes the whole sum zero

        // Only the first 2999 characters of the text are read, by the parse and by the check: no byte
        // (0) and nothing to send (-1).
        const std::string past = std::string(2999, ' ') + "01";
        char reason[200];
        QCOMPARE(Parse(past, false, false).size() + CheckTypedMessage(past, false, reason, sizeof reason),
                 -1);
        // More than a message holds is refused rather than cut: 256 bytes, the start byte included.
        QCOMPARE(CheckTypedMessage(text.substr(0, 3 * 256), false, reason, sizeof reason), 0);
        QCOMPARE(CheckTypedMessage(text.substr(0, 3 * 256), true, reason, sizeof reason), -1);
        QCOMPARE(QString(reason),
                 QString("Too long: a message holds at most 256 bytes, the start byte included."));
    }
};

QTEST_MAIN(DiagnosticsUiTest)
#include "diagnostics_ui_test.moc"
