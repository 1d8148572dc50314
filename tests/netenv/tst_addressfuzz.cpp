// Random host texts through the address rules: every call ends with an
// answer, a true answer never touches the caller's message, and a false one
// always gives a reason or an error line.  The seed is fixed so a failure
// can be replayed.

#include "support/fakes.h"

#include "netenv/checkaddress.h"
#include "startup/globals.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

namespace {

constexpr quint32 kSeed = 20260412;
constexpr int kCases = 4000;
constexpr qint64 kTimeLimitMs = 20000;

const QString kUntouched = QStringLiteral("<as passed>");

QChar pick(QRandomGenerator &random, const QString &from)
{
    return from[random.bounded(from.size())];
}

// Texts of several kinds, so that every rule is reached: dotted numbers,
// host characters, printable ASCII, and any UTF-16 code unit at all.
QString randomText(QRandomGenerator &random)
{
    static const QString dotted = QStringLiteral("0123456789....");
    static const QString host = QStringLiteral("0123456789abcXYZ-_.");
    const int length = random.bounded(0, 140);
    const int kind = random.bounded(4);
    QString text;
    for (int i = 0; i < length; ++i) {
        switch (kind) {
        case 0: text += pick(random, dotted); break;
        case 1: text += pick(random, host); break;
        case 2: text += QChar(char16_t(random.bounded(0x20, 0x7f))); break;
        default: text += QChar(char16_t(random.bounded(0x10000))); break;
        }
    }
    // Short dotted texts are the interesting ones for the address rules.
    if (kind == 0 && random.bounded(2))
        text.truncate(random.bounded(1, 16));
    return text;
}

AdapterSet randomSnapshot(QRandomGenerator &random)
{
    static const QStringList masks{QStringLiteral("255.255.255.0"), QStringLiteral("255.255.0.0"),
                                   QStringLiteral("255.255.255.128"), QStringLiteral("255.255.255.255"),
                                   QStringLiteral("0.0.0.0"), QString(), QStringLiteral("255.255")};
    AdapterSet set;
    const int adapters = random.bounded(0, 3);
    for (int a = 0; a < adapters; ++a) {
        Adapter adapter;
        for (int n = random.bounded(0, 3); n > 0; --n)
            adapter.IPAddress.append(QStringLiteral("10.%1.%2.%3")
                                         .arg(random.bounded(256)).arg(random.bounded(256)).arg(random.bounded(256)));
        for (int n = random.bounded(0, 3); n > 0; --n)
            adapter.IPSubnet.append(masks[random.bounded(masks.size())]);
        set.append(adapter);
    }
    return set;
}

bool onlyHostCharacters(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z')
                        || u == '-' || u == '_' || u == '.';
        if (!ok)
            return false;
    }
    return true;
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
    TestGlobals t;
    t.env->variables.insert(QStringLiteral("COMPUTERNAME"), QStringLiteral("PC17"));
    t.env->variables.insert(QStringLiteral("USERDNSDOMAIN"), QStringLiteral("CORP.EXAMPLE.COM"));
    QRandomGenerator random(kSeed);
    QElapsedTimer clock;
    clock.start();

    int accepted = 0;
    for (int n = 0; n < kCases; ++n) {
        Globals::instance().adapterSet = randomSnapshot(random);
        const QString text = randomText(random);
        const QString shown = QStringLiteral("case %1: \"%2\"").arg(n).arg(text.toHtmlEscaped());
        t.sink.lines.clear();

        QString message = kUntouched;
        const bool answer = CheckAddress(text, message);
        if (answer) {
            ++accepted;
            QVERIFY2(message == kUntouched, qPrintable(shown));
            QVERIFY2(!text.isEmpty() && text.size() <= 128 && onlyHostCharacters(text)
                         && !text.contains(QLatin1String("..")),
                     qPrintable(shown));
        } else {
            // A reason, or an error line with the message as passed.
            const bool reason = message != kUntouched && !message.isEmpty();
            const bool reported = message == kUntouched && !t.sink.lines.isEmpty();
            QVERIFY2(reason || reported, qPrintable(shown));
        }

        // CheckIP on its own takes any text too.
        QString ipMessage = kUntouched;
        if (CheckIP(text, ipMessage))
            QVERIFY2(ipMessage == kUntouched, qPrintable(shown));

        QVERIFY2(clock.elapsed() < kTimeLimitMs, qPrintable(shown));
    }
    qInfo("%d of %d texts accepted", accepted, kCases);
    // The generator reaches both answers.
    QVERIFY(accepted > 0 && accepted < kCases);
}

QTEST_GUILESS_MAIN(TestAddressFuzz)
#include "tst_addressfuzz.moc"
