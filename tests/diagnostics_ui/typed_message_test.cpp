// Hexadecimal typed in the diagnostics window, byte for byte.
#include <QtTest>
#include <string>

#include "diagnostics/typed_message.h"

namespace {

QByteArray Parse(const std::string& text, bool start, bool checksum) {
    uint8_t out[kTypedMessageMaxLength];
    const int n = ParseTypedMessage(text, start, checksum, out);
    return QByteArray(reinterpret_cast<const char*>(out), n);
}

}  // namespace

class TypedMessageTest : public QObject {
    Q_OBJECT
  private slots:
    void examples_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("start");
        QTest::addColumn<bool>("checksum");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("checksum behind") << "0107 00" << false << true << QByteArray::fromHex("010700F8");
        QTest::newRow("both boxes") << "07 00" << true << true << QByteArray::fromHex("010700F8");
        QTest::newRow("0x prefixes") << "0x01 0x07 0x00 0xF8" << false << false
                                     << QByteArray::fromHex("010700F8");
        QTest::newRow("upper 0X, blanks after")
            << "  0X01   0xa7" << false << false << QByteArray::fromHex("01A7");
        QTest::newRow("blank counts zero") << "1 7" << false << false << QByteArray::fromHex("1070");
        QTest::newRow("lone digit") << "5" << false << false << QByteArray::fromHex("50");
        QTest::newRow("0x alone") << "0x" << false << false << QByteArray::fromHex("00");
        QTest::newRow("not hex") << "zz" << false << false << QByteArray::fromHex("00");
        QTest::newRow("mixed junk") << "g5 Fq" << false << false << QByteArray::fromHex("05F0");
        QTest::newRow("empty, both boxes") << "" << true << true << QByteArray::fromHex("01FF");
        QTest::newRow("empty") << "" << false << false << QByteArray();
        QTest::newRow("blanks only") << "    " << false << true << QByteArray::fromHex("00");
    }

    void examples() {
        QFETCH(QString, text);
        QFETCH(bool, start);
        QFETCH(bool, checksum);
        QFETCH(QByteArray, bytes);
        QCOMPARE(Parse(text.toStdString(), start, checksum).toHex(' '), bytes.toHex(' '));
    }

    void longTextStopsAt256Bytes() {
        std::string text;
        for (int i = 0; i < 600; ++i)
            text += "A5 ";
        QByteArray plain = Parse(text, false, false);
        QCOMPARE(plain.size(), 256);
        QVERIFY(plain.count(char(0xA5)) == 256);

        QByteArray framed = Parse(text, true, true);
        QCOMPARE(framed.size(), 257);
        QCOMPARE(uint8_t(framed[0]), uint8_t(0x01));
        QCOMPARE(framed.count(char(0xA5)), 255);
        uint8_t sum = 0;
        for (char c : framed)
            sum = uint8_t(sum + uint8_t(c));
        QCOMPARE(sum, uint8_t(0));  // the checksum makes the whole sum zero

        // Only the first 2999 characters of the text are read.
        std::string huge(5000, 'f');
        QCOMPARE(Parse(huge, false, false).size(), 256);
    }
};

QTEST_GUILESS_MAIN(TypedMessageTest)
#include "typed_message_test.moc"
