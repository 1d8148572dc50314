// The socket's text conversion: received bytes always become visible text
// and no byte is lost (sent text as UTF-8 is checked in tst_winsock).

#include "socket/socketerrors.h"
#include "socket/textcodec.h"

#include <QtTest>

class TstTextCodec : public QObject
{
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void holdsBackAnIncompleteTail_data();
    void holdsBackAnIncompleteTail();
    void errorNumbersAndScodes_data();
    void errorNumbersAndScodes();
};

void TstTextCodec::decodes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain, tab and line end") << QByteArray("a\tb\r\n") << QStringLiteral("a\tb\r\n");
    QTest::newRow("nul and bell") << QByteArray("a\0b\x07", 4) << QStringLiteral("a\\x00b\\x07");
    QTest::newRow("escape and delete") << QByteArray("\x1B[0m\x7F") << QStringLiteral("\\x1B[0m\\x7F");
    QTest::newRow("backslash stays") << QByteArray("C:\\temp\\x") << QStringLiteral("C:\\temp\\x");
    QTest::newRow("two-, three-, four-byte") << QByteArray("\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80") << QString::fromUtf8("\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80");
    QTest::newRow("C1 control as its bytes") << QByteArray("\xC2\x85") << QStringLiteral("\\xC2\\x85");
    QTest::newRow("latin-1 byte") << QByteArray("caf\xE9!") << QStringLiteral("caf\\xE9!");
    QTest::newRow("stray continuation") << QByteArray("\x80x") << QStringLiteral("\\x80x");
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << QStringLiteral("\\xC0\\xAF");
    QTest::newRow("overlong three-byte") << QByteArray("\xE0\x80\xAF") << QStringLiteral("\\xE0\\x80\\xAF");
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << QStringLiteral("\\xED\\xA0\\x80");
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << QStringLiteral("\\xF4\\x90\\x80\\x80");
    QTest::newRow("lead without continuation") << QByteArray("\xE2(") << QStringLiteral("\\xE2(");
    QTest::newRow("truncated at end, final") << QByteArray("a\xE2\x82") << QStringLiteral("a\\xE2\\x82");
    QTest::newRow("long runs, stops past sixteen bytes")
        << QByteArray("aaaaaaaaaaaaaaaaaaa\tbbbbbbbbbbbbbbbbb\x01" "ccccccccccccccccc\x7F" "ddddddddddddddddd\xC3\xBC!")
        << QStringLiteral("aaaaaaaaaaaaaaaaaaa\tbbbbbbbbbbbbbbbbb\\x01ccccccccccccccccc\\x7Fddddddddddddddddd\u00FC!");
}

void TstTextCodec::decodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const DecodedText decoded = DecodeReceived(bytes, true);
    QCOMPARE(decoded.text, text);
    QCOMPARE(decoded.consumed, bytes.size());
}

void TstTextCodec::holdsBackAnIncompleteTail_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("held");
    QTest::newRow("euro split 1+2") << QByteArray("x\xE2") << QByteArray("\x82\xAC") << 1;
    QTest::newRow("euro split 2+1") << QByteArray("x\xE2\x82") << QByteArray("\xAC") << 2;
    QTest::newRow("emoji split 3+1") << QByteArray("\xF0\x9F\x98") << QByteArray("\x80") << 3;
    QTest::newRow("nothing held") << QByteArray("ab") << QByteArray("c") << 0;
    QTest::newRow("invalid tail not held") << QByteArray("a\xF0\x80") << QByteArray("b") << 0;
}

void TstTextCodec::holdsBackAnIncompleteTail()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, held);
    QCOMPARE(first.size() - CompleteLength(first), held);
    const DecodedText part = DecodeReceived(first, false);
    QCOMPARE(part.consumed, first.size() - held);
    // The held bytes go in front of the next read; together nothing is lost.
    const QByteArray rest = first.mid(part.consumed) + second;
    QCOMPARE(part.text + DecodeReceived(rest, true).text, DecodeReceived(first + second, true).text);
}

void TstTextCodec::errorNumbersAndScodes_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("event");
    QTest::addColumn<quint32>("scode");
    QTest::newRow("refused") << 10061 << 10061 << 0x800A274Du;
    QTest::newRow("bad state") << 40006 << -25530 << 0x800A9C46u;
    QTest::newRow("property") << 380 << 380 << 0x800A017Cu;
}

void TstTextCodec::errorNumbersAndScodes()
{
    QFETCH(int, number);
    QFETCH(int, event);
    QFETCH(quint32, scode);
    QCOMPARE(int(SocketErrorNumber(number)), event);
    QCOMPARE(quint32(SocketErrorScode(number)), scode);
}

QTEST_GUILESS_MAIN(TstTextCodec)
#include "tst_textcodec.moc"
