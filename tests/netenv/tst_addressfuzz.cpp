// Random host texts through the address rules: every call ends in bounded
// time, a true answer never touches the caller's message and only passes
// host texts, and a false one always gives a reason or an error line.  The
// seed is fixed so a failure can be replayed.

#include "adaptertext.h"

#include "netenv/checkaddress.h"
#include "startup/globals.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString kUntouched = QStringLiteral("<as passed>");

// Dotted numbers, host characters, printable ASCII, or any UTF-16 code unit.
QString randomText(QRandomGenerator &random)
{
    static const QString alphabets[] = {"0123456789....", "0123456789abcXYZ-_."};
    const int kind = random.bounded(4);
    QString text;
    for (int i = random.bounded(0, 140); i > 0; --i) {
        if (kind < 2)
            text += alphabets[kind][random.bounded(alphabets[kind].size())];
        else
            text += QChar(char16_t(kind == 2 ? random.bounded(0x20, 0x7f) : random.bounded(0x10000)));
    }
    if (kind == 0 && random.bounded(2)) // short dotted texts reach the address rules
        text.truncate(random.bounded(1, 16));
    return text;
}

// Up to two adapters of up to two addresses and two masks, good and bad.
QString randomAdapters(QRandomGenerator &random)
{
    static const QStringList masks{"255.255.255.0", "255.255.0.0", "255.255.255.128", "255.255.255.255",
                                   "0.0.0.0", "_", "255.255"};
    QStringList adapters;
    for (int a = random.bounded(0, 3); a > 0; --a) {
        QStringList ips, subnets;
        for (int n = random.bounded(0, 3); n > 0; --n)
            ips << QStringLiteral("10.%1.%2.%3").arg(random.bounded(256)).arg(random.bounded(256)).arg(random.bounded(256));
        for (int n = random.bounded(0, 3); n > 0; --n)
            subnets << masks[random.bounded(masks.size())];
        adapters << ips.join(u',') + u'|' + subnets.join(u',');
    }
    return adapters.join(u';');
}

} // namespace

class TestAddressFuzz : public QObject
{
    Q_OBJECT

private slots:
    void randomTexts();
};

void TestAddressFuzz::randomTexts()
{
    constexpr int kCases = 4000;
    static const QRegularExpression hostText("^[0-9A-Za-z_.-]{1,128}$");
    TestGlobals t;
    t.env->variables.insert("COMPUTERNAME", "PC17");
    t.env->variables.insert("USERDNSDOMAIN", "CORP.EXAMPLE.COM");
    QRandomGenerator random(20260412);
    QElapsedTimer clock;
    clock.start();
    int accepted = 0;
    for (int n = 0; n < kCases; ++n) {
        Globals::instance().adapterSet = Adapters(randomAdapters(random));
        const QString text = randomText(random);
        const QByteArray shown = QStringLiteral("case %1: \"%2\"").arg(n).arg(text.toHtmlEscaped()).toUtf8();
        t.sink.lines.clear();
        QString message = kUntouched;
        if (CheckAddress(text, message)) {
            ++accepted;
            QVERIFY2(message == kUntouched && hostText.match(text).hasMatch() && !text.contains(".."), shown);
        } else {
            QVERIFY2(message == kUntouched ? !t.sink.lines.isEmpty() : !message.isEmpty(), shown);
        }
        QString ipMessage = kUntouched; // CheckIP on its own takes any text too
        if (CheckIP(text, ipMessage))
            QVERIFY2(ipMessage == kUntouched, shown);
        QVERIFY2(clock.elapsed() < 20000, shown);
    }
    qInfo("%d of %d texts accepted", accepted, kCases);
    QVERIFY(accepted > 0 && accepted < kCases); // the generator reaches both answers
}

QTEST_GUILESS_MAIN(TestAddressFuzz)
#include "tst_addressfuzz.moc"
