// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The probe engine's rules on made-up times, and what its figures become:
// the window's line and plot, ping's summary, the JSON document and the
// metrics page, each checked against the figures of the same run.
#include "autoping/autoping.h"
#include "base/clock.h"
#include "base/icmpseen.h"
#include "base/msgsink.h"
#include "cli/jsonsummary.h"
#include "cli/metricspage.h"
#include "console/pingplot.h"
#include "peers/responder.h"
#include "probe/probeclock.h"
#include "probe/probeengine.h"
#include "probe/probetexts.h"
#include "socket/socketerrors.h"
#include "stamp/stampfigures.h"
#include "wording/respondlines.h"
#include "wording/sessionlines.h"
#include "wording/verdictlines.h"

#include "columns.h"
#include <QAccessible>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <QtTest>

#include <climits>
#include <map>
#include <random>
#include <set>

using Matching = ProbeEngine::Matching;
using Kind = ProbeEngine::Event::Kind;

namespace {

// Runs a script of steps on engine, each "what@ms" (times in milliseconds,
// fractions allowed): s sent, aN answered (N: the number it carries), t the
// time passes, fR a failed attempt for reason R, xN query N refused, k the
// window's tick, r the stream made anew, o a foreign datagram, e the end.
// Returns the events, one word each (Q: a query sent numbered and plain): A answered, N no answer,
// L late (L?: not matched for sure), X lost, F failed (f: not said again), D refused, R recovered,
// S stray, O foreign, G forged (no token), U unproven; with the query's number.
QString run(ProbeEngine &engine, const QString &script)
{
    QStringList told;
    std::array<quint64, 5> counted{};
    engine.start(0, QStringLiteral("192.0.2.9:7010"));
    for (const QString &step : script.split(u' ', Qt::SkipEmptyParts)) {
        const QString what = step.section(u'@', 0, 0);
        const qint64 at = qint64(step.section(u'@', 1).section(u':', 0, 0).toDouble() * 1000);
        const QString arg = what.mid(1);
        ProbeEngine::Events events = engine.advance(at);
        switch (what[0].toLatin1()) {
        case 's':
            if (engine.nextForm() == ProbeEngine::Form::PlainAndNumbered)
                told << QStringLiteral("Q"); // it asks whether the far end reads numbers
            events += engine.sent(at);
            break;
        case 'f': events += engine.failed(at, step.section(u':', 1)); break;
        case 'a': {
            // ~: it echoes the token, !: a wrong one.
            const auto token = arg.endsWith('~')   ? ProbeEngine::Token::Echoed
                               : arg.endsWith('!') ? ProbeEngine::Token::Wrong
                                                   : ProbeEngine::Token::Absent;
            const int seq = arg.left(arg.size() - (token != ProbeEngine::Token::Absent)).toInt();
            events += engine.answer(at, seq ? std::optional(seq) : std::nullopt, token);
            break;
        }
        case 'x': events += engine.refused(arg.toInt(), QStringLiteral("refused")); break;
        case 'k': events += engine.judgeTick(); break;
        case 'r': events += engine.restartStream(); break;
        case 'o': events += engine.foreign(QStringLiteral("198.51.100.1:7010")); break;
        case 'e': events += engine.finish(); break;
        }
        for (const ProbeEngine::Event &e : events) {
            static const char *const letters[]
                = {"A", "N", "L", "X", "F", "D", "R", "S", "O", "G", "U"};
            QString word = QLatin1String(letters[int(e.kind)]);
            if (e.kind == Kind::Failed && !e.said)
                word = QStringLiteral("f");
            if (e.kind == Kind::Late && e.rttUs < 0)
                word += u'?';
            if (e.seq > 0)
                word += QString::number(e.seq);
            told << word;
        }
        const ProbeFigures &f = engine.figures();
        if (f.queries() != f.answered() + f.late() + f.lost() + f.inFlight()
            || f.queries() != f.sent() + f.failed())
            told << QStringLiteral("(figures do not add up)");
        // The counters a scraper reads never go down from one step to the next.
        const std::array now{f.queries(), f.answered(), f.late(), f.lost(), f.strays()};
        if (!std::equal(counted.begin(), counted.end(), now.begin(), std::less_equal<>()))
            told << QStringLiteral("(a count went down)");
        counted = now;
    }
    return told.join(u' ');
}

ProbeEngine::Options options(Matching matching, int asks = 0)
{
    ProbeEngine::Options o;
    o.matching = matching;
    o.numberedAsks = asks;
    o.timeoutUs = 2'000'000;
    o.lateUs = 4'000'000;
    return o;
}

// The figures, in this order: queries sent answered late lost stray foreign.
QString counts(const ProbeFigures &f)
{
    QStringList n;
    for (quint64 each :
         {f.queries(), f.sent(), f.answered(), f.late(), f.lost(), f.strays(), f.foreign()})
        n << QString::number(each);
    return n.join(' ');
}

// One seeded schedule on a simulated clock and network: outages (at the
// start, in the middle, flapping), random loss, delays up to past the late
// bound, duplicates; over datagrams to a far end that reads numbers (each
// copy of a query answered) or over a stream (answers in order, never
// lost, held by outages and losses).  Every query's outcome and round trip
// must be the one its fate implies; returns what differs.
QString simulate(quint32 seed, bool stream)
{
    std::mt19937 rng(seed);
    const auto chance = [&](double p) { return std::uniform_real_distribution<>(0, 1)(rng) < p; };
    const auto upTo = [&](qint64 most) { return qint64(rng() % quint64(most + 1)); };
    ProbeEngine::Options o = options(stream ? Matching::Ordered : Matching::Plain, stream ? 0 : 3);
    o.count = 10 + int(upTo(30));
    o.timeoutUs = (1 + upTo(3)) * 500'000;
    o.lateUs = 2 * o.timeoutUs;
    const qint64 startDown = chance(0.4) ? upTo(6'000'000) : 0;
    const qint64 midDown = chance(0.3) ? upTo(o.count * 1'000'000LL) : -1;
    const bool flapping = chance(0.2);
    const double loss = chance(0.5) ? 0.3 * chance(0.5) + 0.05 : 0;
    const auto down = [&](qint64 t) {
        return t < startDown || (t >= midDown && t < midDown + 4'000'000 && midDown >= 0)
               || (flapping && t / 3'000'000 % 2 == 1);
    };
    const auto upAgain = [&](qint64 t) {
        while (down(t))
            t += 100'000;
        return t;
    };
    ProbeEngine engine(o);
    engine.start(0, QStringLiteral("192.0.2.9:7010"));
    std::multimap<qint64, int> arrivals; // at, seq (negative: the plain copy's answer)
    std::map<int, qint64> sentAt, firstAt;
    std::set<int> seen;
    qint64 streamAt = 0, finishedAt = 0;
    int expectedStrays = 0;
    ProbeEngine::Events events;
    for (;;) {
        const qint64 wake = engine.nextWakeUs().value_or(LLONG_MAX);
        const qint64 now = arrivals.empty() ? wake : std::min(wake, arrivals.begin()->first);
        events += engine.advance(now);
        if (!arrivals.empty() && arrivals.begin()->first == now) {
            const int seq = arrivals.begin()->second;
            arrivals.erase(arrivals.begin());
            // A stray: a duplicate, or any copy of an answer past its late bound.
            const int of = stream ? int(seen.size()) + 1 : std::abs(seq);
            expectedStrays
                += firstAt[of] - sentAt[of] > o.lateUs || (seq > 0 && !seen.insert(of).second);
            if (stream)
                seen.insert(of);
            events += engine.answer(now, seq > 0 ? std::optional(seq) : std::nullopt);
        } else if (const std::optional<int> seq = engine.due(now)) {
            const ProbeEngine::Form form = engine.nextForm();
            events += engine.sent(now);
            sentAt[*seq] = now;
            qint64 at = now + 200 + (chance(0.1) ? upTo(o.lateUs * 3 / 2) : upTo(5'000));
            if (stream) {
                at = std::max(chance(loss) ? at + 200'000 : at, streamAt + 1);
                firstAt[*seq] = streamAt = down(at) || down(now) ? upAgain(std::max(at, now)) : at;
                arrivals.emplace(streamAt, 0);
            } else if (!down(now) && !chance(loss)) {
                // The far end answers each copy, the numbered one first.
                firstAt[*seq] = at;
                if (form != ProbeEngine::Form::Plain)
                    arrivals.emplace(at, *seq);
                if (form != ProbeEngine::Form::Numbered)
                    arrivals.emplace(at, -*seq);
                if (chance(0.05))
                    arrivals.emplace(at + upTo(o.lateUs), *seq);
            }
        }
        if (engine.isFinished(now) || now == LLONG_MAX) {
            events += engine.finish();
            finishedAt = now;
            break;
        }
    }
    std::map<int, std::pair<Kind, qint64>> outcome;
    for (const ProbeEngine::Event &e : events)
        if (e.kind == Kind::Answered || e.kind == Kind::Late || e.kind == Kind::Lost)
            outcome[e.seq] = {e.kind, e.rttUs};
    QStringList wrong;
    for (const auto &[seq, at] : sentAt) {
        const auto arrived = firstAt.find(seq);
        const qint64 rtt = arrived == firstAt.end() ? LLONG_MAX : arrived->second - at;
        const Kind kind = arrived == firstAt.end() || arrived->second > finishedAt || rtt > o.lateUs
                              ? Kind::Lost
                          : rtt <= o.timeoutUs ? Kind::Answered
                                               : Kind::Late;
        if (outcome[seq] != std::pair(kind, kind == Kind::Lost ? -1 : rtt))
            wrong << QStringLiteral("query %1: %2 in %3 us, the wire: %4 in %5 us")
                         .arg(QString::number(seq), QString::number(int(outcome[seq].first)),
                              QString::number(outcome[seq].second), QString::number(int(kind)),
                              QString::number(rtt));
    }
    if (engine.figures().strays() != quint64(expectedStrays))
        wrong << QStringLiteral("%1 strays, the wire: %2")
                     .arg(engine.figures().strays())
                     .arg(expectedStrays);
    return wrong.join(u'\n');
}

} // namespace

class TestProbe : public QObject
{
    Q_OBJECT
private slots:
    // One rule set for every probe: which query an answer belongs to, when
    // a query has no answer, is late or lost, on both sides of each bound.
    void rules_data()
    {
        columns<ProbeEngine::Options, QString, QString, QString>("options", "script", "events",
                                                                 "figures");
        const auto ordered = options(Matching::Ordered);
        const auto numbered = options(Matching::Numbered);
        const auto asking = options(Matching::Plain, 3);
        const auto row = [](const char *name, const ProbeEngine::Options &o, const QString &script,
                            const QString &events, const QString &figures) {
            QTest::newRow(name) << o << script << events << figures;
        };
        row("on time", ordered, "s@0 a@1 s@1000 a@1001 t@9000", "A1 A2", "2 2 2 0 0 0 0");
        row("exactly at the timeout, and a microsecond after", ordered,
            "s@0 a@2000 s@1000 a@3000.001", "A1 N2 L2", "2 2 1 1 0 0 0");
        row("late, then lost a microsecond after the late bound", ordered,
            "s@0 s@1000 a@2500 t@5000 t@5000.001", "N1 L1 N2 X2", "2 2 0 1 1 0 0");
        row("duplicates do not shift the answers after them", ordered,
            "s@0 a@1 a@2 s@1000 a@1001 a@1002 s@2000 a@2001", "A1 S A2 S A3", "3 3 3 0 0 2 0");
        row("numbered: out of order, unknown, duplicate", numbered,
            "s@0 s@1000 a2@1001 a1@1500 a9@1600 a1@1700", "A2 A1 S9 S1", "2 2 2 0 0 2 0");
        row("numbered answer after the timeout, its plain echo expected", asking,
            "s@0 a1@2500 a@2501 s@3000 a3@3001", "Q N1 L1 S3", "2 2 0 1 0 1 0");
        row("plain echo first, its numbered answer expected", asking,
            "s@0 a@1 a1@2 s@1000 a2@1001 a@1002", "Q A1 A2 S", "2 2 2 0 0 1 0");
        row("plain peer, two waiting: the oldest late, unsure", asking, "s@0 s@1000 a@1500 a@1600",
            "Q Q L?1 A2", "2 2 1 1 0 0 0");
        row("the far end up after three queries: asked until it answers, then numbered", asking,
            "s@0 s@1000 s@2000 s@3000 a4@3001 a@3001 s@4000 a5@4001 a@4002",
            "Q Q Q Q N1 N2 A4 N3 X1 A5 S", "5 5 2 0 1 1 0");
        row("a far end that reads no numbers: asked until three answered", asking,
            "s@0 a@1 s@1000 a@1001 s@2000 a@2001 s@3000 a@3001", "Q A1 Q A2 Q A3 A4",
            "4 4 4 0 0 0 0");
        auto tokened = asking;
        tokened.tokens = true;
        row("token echoed: tokenless and wrong answers foreign, plain ones stray", tokened,
            "s@0 a1~@1 a@2 s@1000 a2@1001 a@1002 a2!@1003 a3~@1500", "Q A1 G S S3",
            "2 2 1 0 0 2 2");
        auto required = tokened;
        required.matching = Matching::Numbered;
        required.numberedAsks = 0;
        required.requireToken = true;
        row("token required: a plain answer foreign, said once, like a tokenless one", required,
            "s@0 a@1 a1@2 a1~@3 s@1000 a@1001 a2~@1002", "G A1 A2", "2 2 2 0 0 0 3");
        row("a wrong token makes no numbered far end", tokened, "s@0 a1!@1 a@2", "Q G A1",
            "1 1 1 0 0 0 1");
        row("plain answers only: unproven said at the third, taken; tokenless numbered foreign",
            tokened, "s@0 a@1 s@1000 a@1001 s@2000 a@2001 s@3000 a@3001 a4@3002",
            "Q A1 Q A2 Q U A3 A4 G", "4 4 4 0 0 0 1");
        row("a stream: the answer to a lost query is owed, not the next one's", ordered,
            "s@0 s@1000 t@4000.001 a@4500 a@4501 s@5000 a@5001", "N1 N2 X1 S L2 A3",
            "3 3 1 1 1 1 0");
        row("down, then up: every interval a failed attempt", ordered,
            "f@0:refused f@1000:refused f@2000:timeout s@3000 a@3001", "F1 f2 F3 R4 A4",
            "4 1 1 0 3 0 0");
        row("the window's ticks: no answer, then lost", options(Matching::Plain),
            "s@0 k s@1000 k a@1500 k", "N1 X1 N2 L2", "2 2 0 1 1 0 0");
        row("a new stream, the end, a refusal, foreigners said once", ordered,
            "s@0 r s@1000 x2 o o s@2000 e", "N1 X1 D2 O N3 X3", "3 3 0 0 3 0 2");
    }
    void rules()
    {
        const auto [options, script] = fetched<ProbeEngine::Options, QString>("options", "script");
        ProbeEngine engine(options);
        QTEST(run(engine, script), "events");
        QTEST(counts(engine.figures()), "figures");
    }

    // Seeded schedules against their own record: a fixed sample here;
    // SELMARIN_SCHEDULES=N runs N of each kind, SELMARIN_SEED=S replays one.
    void simulatedSchedules()
    {
        const quint32 only = quint32(qEnvironmentVariableIntValue("SELMARIN_SEED"));
        const int many = qEnvironmentVariableIsSet("SELMARIN_SCHEDULES")
                             ? qEnvironmentVariableIntValue("SELMARIN_SCHEDULES")
                             : 150;
        for (const bool stream : {false, true})
            for (quint32 seed = only ? only : 1; seed <= (only ? only : quint32(many)); ++seed) {
                const QString wrong = simulate(seed, stream);
                QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("seed %1 (%2): %3")
                                                         .arg(seed)
                                                         .arg(stream ? "stream" : "datagrams")
                                                         .arg(wrong)));
            }
    }

    // When queries are due, and when the run is over: every interval from
    // the start, missed slots skipped (no burst), the count, the deadline.
    void schedule()
    {
        ProbeEngine::Options o = options(Matching::Ordered);
        o.count = 3;
        o.deadlineUs = 10'000'000;
        ProbeEngine engine(o);
        engine.start(5'000'000, {});
        QCOMPARE(engine.due(5'000'000), 1);
        engine.sent(5'000'000);
        QCOMPARE(engine.due(5'999'999), std::nullopt);
        QCOMPARE(engine.due(6'000'000), 2);
        QCOMPARE(engine.nextWakeUs(), 6'000'000);
        engine.sent(8'500'000); // late by 2.5 intervals: the next is due at 9 s
        QCOMPARE(engine.due(8'999'999), std::nullopt);
        QCOMPARE(engine.due(9'000'000), 3);
        engine.sent(9'000'000);
        QCOMPARE(engine.due(20'000'000), std::nullopt); // the count is reached
        engine.answer(9'000'001);
        engine.answer(9'000'002);
        QVERIFY(!engine.isFinished(9'000'003)); // the first query still waits
        engine.advance(11'000'000);
        QVERIFY(!engine.isFinished(11'000'000)); // the third has until its timeout
        engine.advance(11'000'001);
        QVERIFY(engine.isFinished(11'000'001));
        ProbeEngine::Options timed = options(Matching::Ordered);
        timed.deadlineUs = 1'000'000;
        ProbeEngine deadline(timed);
        deadline.start(2'000'001, {}, 400'000); // slots from 0.4 s: the first one from now
        QCOMPARE(deadline.due(2'399'999), std::nullopt);
        QCOMPARE(deadline.due(2'400'000), 1);
        deadline.start(0, {}, 400'000);
        QCOMPARE(deadline.due(399'999), std::nullopt);
        QCOMPARE(deadline.due(400'000), 1);
        QVERIFY(!deadline.isFinished(999'999));
        QVERIFY(deadline.isFinished(1'000'000));
        QCOMPARE(deadline.nextWakeUs(), 400'000); // the first query, before the deadline
    }

    // One clock for a run's probers: each is woken once, at the time it
    // asked for last, in the order of the times; one cancelled, or cancelled
    // by a wake of the same turn, is not woken; one that asks again from its
    // wake is woken at the next turn, after those due with it.
    void sharedClock()
    {
        ProbeClock clock;
        QStringList woken;
        const auto wake = [&woken](const char *name) { return [&woken, name] { woken << name; }; };
        int a, b, c, d, e; // the probers
        const qint64 now = MonotonicUs();
        clock.wakeAt(&a, now + 30'000, wake("a, asked first"));
        clock.wakeAt(&a, now + 500'000, wake("a"));
        clock.wakeAt(&b, now + 20'000, wake("b"));
        clock.wakeAt(&c, now + 20'000, [&] {
            woken << "c";
            clock.cancel(&d);
            clock.wakeAt(&c, 0, wake("c again"));
        });
        clock.wakeAt(&d, now + 20'000, wake("d"));
        clock.wakeAt(&e, now + 10'000, wake("e"));
        clock.cancel(&e);
        QTRY_COMPARE_WITH_TIMEOUT(woken, (QStringList{"b", "c", "c again", "a"}), 5000);
    }

    // The window's figures and plot after ticks a second apart, each query
    // sent 1 us after its tick and answered delays[i] us later (-1: never).
    void windowFigures_data()
    {
        // marks: a answered, l late, x lost, in judged order
        // described: the plot as a screen reader tells it
        columns<QList<int>, QString, QString, qint64, QString>("delays", "marks", "summary",
                                                               "ceiling", "described");
        dataRow("known delays", QList<int>{210, 350, 1200, 300, 400}, "aaaaa",
                "5 sent, 5 answered, 0 lost (0.0 %), rtt 0.21 / 0.49 / 1.20 / 0.36 ms",
                qint64(2000),
                "Last 5 queries: 5 answered, 0 late, 0 lost. Round trip 0.21 ms to 1.20 ms. "
                "Newest answered in 0.40 ms.");
        dataRow("late: after the next query's answer", QList<int>{300, 1400000, 500}, "aal",
                "3 sent, 2 answered, 1 late, 0 lost (0.0 %), rtt 0.30 / 0.40 / 0.50 / 0.10 ms",
                qint64(500),
                "Last 3 queries: 2 answered, 1 late, 0 lost. Round trip 0.30 ms to 0.50 ms. "
                "Newest answered late.");
        dataRow("the plot keeps the last minute", QList<int>{-1} + QList<int>(60, 300),
                "x" + QString(59, 'a'),
                "61 sent, 60 answered, 1 lost (1.6 %), rtt 0.30 / 0.30 / 0.30 / 0.00 ms",
                qint64(500),
                "Last 60 queries: 59 answered, 0 late, 1 lost. Round trip 0.30 ms to 0.30 ms. "
                "Newest answered in 0.30 ms.");
        dataRow("no answers", QList<int>{-1, -1}, "xx", "2 sent, 0 answered, 2 lost (100.0 %)",
                qint64(1000), "Last 2 queries: 0 answered, 0 late, 2 lost. Newest lost.");
    }
    void windowFigures()
    {
        const auto [delays, summary] = fetched<QList<int>, QString>("delays", "summary");
        QList<std::pair<qint64, int>> steps; // time, and 0 tick, 1 send, 2 answer
        for (qint64 i = 0; i <= delays.size() + 1; ++i) {
            steps.append({i * 1000000, 0});
            if (i < delays.size()) {
                steps.append({i * 1000000 + 1, 1});
                if (delays[i] >= 0)
                    steps.append({i * 1000000 + 1 + delays[i], 2});
            }
        }
        std::stable_sort(steps.begin(), steps.end());
        ProbeEngine engine(options(Matching::Plain));
        engine.start(0, QStringLiteral("192.0.2.9:7010"));
        for (const auto &[at, what] : steps)
            what == 0   ? void(engine.judgeTick())
            : what == 1 ? void(engine.sent(at))
                        : void(engine.answer(at));
        const ProbeFigures &figures = engine.figures();
        QCOMPARE(figures.summary(), "AutoPing 192.0.2.9:7010 \u2014 " + summary);
        PingPlot plot;
        plot.setStats(figures);
        QTEST(plot.ceilingUs(), "ceiling");
        QString history, drawn;
        for (const auto &judged : figures.history())
            history += "alx"[int(judged.outcome)];
        for (const auto &mark : plot.marks()) {
            drawn += "alx"[int(mark.outcome)];
            QCOMPARE(mark.height > 0, mark.outcome == ProbeFigures::Outcome::Answered);
        }
        QTEST(history, "marks");
        QCOMPARE(drawn, history);
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&plot);
        QCOMPARE(iface->role(), QAccessible::Chart);
        QTEST(iface->text(QAccessible::Description), "described");
    }

    // A query the session cannot hand over ends the window's probe at once,
    // said in a line: it does not try again every second.
    void autoPingStopsWhenItCannotSend()
    {
        struct : ProbeLink
        {
            int sends = 0;
            bool Send(const QString &) override { return ++sends, false; }
        } link;
        struct : MsgSink
        {
            QString lines;
            void addLine(LineKind, const QString &speaker, const QString &text) override
            {
                lines += speaker + ": " + text;
            }
            void ClearMsgsBox() override {}
        } report;
        AutoPing probe(link, report);
        probe.start(QStringLiteral("192.0.2.9:7010"));
        QVERIFY(probe.isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(link.sends, 1, 3000);
        QVERIFY(!probe.isRunning());
        QVERIFY2(report.lines.startsWith("AutoPing: Failed to send ++ AutoPing Query ++\r\n"),
                 qPrintable(report.lines));
    }

    // The summary, the JSON document and the metrics page of the same run,
    // field by field: the page is what a scraper compares with the summary.
    void reports()
    {
        ProbeEngine::Options o = options(Matching::Ordered);
        ProbeEngine first(o), second(o);
        // Round trips of 0.5 ms (a bucket's bound: counted in it), 0.501 ms
        // and 2.5 s (late); a failed attempt and three lost, five in flight,
        // strays and foreign datagrams: every count differs from the others
        // (and so do the totals), so that one shown in another's place is seen.
        run(first, "s@0 a@0.5 a@0.6 a@0.7 a@0.8 a@0.9 a@1 a@1.1 s@1000 a@1000.501 s@2000 "
                   "f@3000:refused a@4500 s@4600 s@4700 s@4800 o o o o o o o s@9000 s@10000 "
                   "s@11000 s@12000 s@12500");
        first.connected(120);
        first.connected(80);
        first.handshakeDone(3000);
        run(second, "s@0 a@3");
        const ProbeFigures &f = first.figures(), &g = second.figures();
        QCOMPARE(f.pingSummary(),
                 "11 packets transmitted, 3 received, 1 late, +1 not sent, 6 stray, 7 foreign, "
                 "57.1429% packet loss\nrtt min/avg/max/mdev = 0.500/0.500/0.501/0.001 ms\n"
                 "connect min/avg/max = 0.080/0.100/0.120 ms, TLS handshake min/avg/max = "
                 "3.000/3.000/3.000 ms");

        const QJsonObject json
            = QJsonDocument::fromJson(JsonSummary({{"a:1", &f, {"x"}, {}}, {"b:2", &g, {}, {}}}, 1))
                  .object();
        const QJsonArray targets = json["targets"].toArray();
        const QJsonObject one = targets[0].toObject(), total = json["total"].toObject();
        const struct
        {
            const char *field;
            quint64 (ProbeFigures::*count)() const;
            const char *metric;
        } fields[] = {{"queries", &ProbeFigures::queries, "queries_total"},
                      {"sent", &ProbeFigures::sent, nullptr},
                      {"answered", &ProbeFigures::answered, "answered_total"},
                      {"late", &ProbeFigures::late, "late_total"},
                      {"lost", &ProbeFigures::lost, "lost_total"},
                      {"in_flight", &ProbeFigures::inFlight, "in_flight"},
                      {"stray", &ProbeFigures::strays, "stray_answers_total"},
                      {"foreign", &ProbeFigures::foreign, "foreign_datagrams_total"}};
        for (const auto &field : fields) {
            QCOMPARE(one[field.field].toInteger(), qint64((f.*field.count)()));
            QCOMPARE(total[field.field].toInteger(),
                     qint64((f.*field.count)() + (g.*field.count)()));
        }
        QVERIFY(one["target"] == "a:1" && targets[1]["target"] == "b:2");
        QCOMPARE(one["loss_percent"].toDouble(), 400.0 / 7);
        QCOMPARE(total["loss_percent"].toDouble(), 50.0);
        QCOMPARE(one["failed_attempts"]["refused"].toInt(), 1);
        QCOMPARE(one["rtt_ms"]["max"].toDouble(), 0.501);
        QCOMPARE(one["rtt_ms"]["mdev"].toDouble(), f.rttMdevUs() / 1000);
        QCOMPARE(one["connect_ms"]["avg"].toDouble(), 0.1);
        QCOMPARE(one["handshake_ms"]["count"].toInt(), 1);
        QVERIFY(targets[1]["connect_ms"].isNull() && targets[1]["errors"].toArray().isEmpty());
        QCOMPARE(json["exit_status"].toInt(), 1);

        // A reflector's target: 5 sent, the 1st and 5th answered (its numbers 0
        // and 2): two lost on the way there, one on the way back.
        StampFigures stamp;
        stamp.setSent(5);
        QVERIFY(stamp.add({0, 0}) && stamp.add({4, 2}) && !stamp.add({4, 2}));
        const QString text = ProbeMetrics(
            {{"a:1", &f, &stamp, {}}, {"b:2", &g, nullptr, {{"site", "a\"b\\c\n"}, {"r", "1"}}}});
        QMap<QString, QString> page;
        for (const QString &line : text.split('\n'))
            if (!line.isEmpty() && !line.startsWith('#'))
                page[line.section(' ', 0, 0)] = line.section(' ', 1);
        const auto metric = [&](const QString &name, const QString &labels = {}) {
            return page.value("selmarin_probe_" + name + "{target=\"a:1\"" + labels + "}");
        };
        QCOMPARE(metric("queries_total").toULongLong(),
                 metric("answered_total").toULongLong() + metric("late_total").toULongLong()
                     + metric("lost_total").toULongLong() + metric("in_flight").toULongLong());
        for (const auto &field : fields)
            if (field.metric)
                QCOMPARE(metric(field.metric), QString::number((f.*field.count)()));
        QCOMPARE(metric("failed_attempts_total", ",reason=\"refused\""), "1");
        QCOMPARE(metric("rtt_seconds_bucket", ",le=\"0.0005\""), "1");
        QCOMPARE(metric("rtt_seconds_bucket", ",le=\"0.001\""), "2");
        QCOMPARE(metric("rtt_seconds_count"), "2");
        QStringList edges; // the bounds alert rules are written against
        for (const auto &m : QRegularExpression("\"a:1\",le=\"([^\"]+)").globalMatch(text))
            edges << m.captured(1);
        QCOMPARE(edges.join(' '),
                 "0.0005 0.001 0.0025 0.005 0.01 0.025 0.05 0.1 0.25 0.5 1 2.5 5 +Inf");
        QCOMPARE(metric("connect_seconds_sum"), "0.0002");
        QCOMPARE(metric("up"), "0");
        QCOMPARE(page.value("selmarin_stamp_lost_total{target=\"a:1\",direction=\"forward\"}"),
                 "2");
        QCOMPARE(page.value("selmarin_stamp_lost_total{target=\"a:1\",direction=\"backward\"}"),
                 "1");
        QVERIFY(!text.contains("selmarin_stamp_lost_total{target=\"b:2\""));
        // A target's own labels follow its name, their values escaped.
        QCOMPARE(page.value("selmarin_probe_up{target=\"b:2\",site=\"a\\\"b\\\\c\\n\",r=\"1\"}"),
                 "1");
        // The reasons' labels by the socket's error numbers, as documented.
        QStringList labels;
        for (int code : {10061, 10060, 10065, 10051, 10013, 10024, 11001, 10054, 10049, 40030,
                         40031, 40032, 40033, 1})
            labels << FailureReason(code);
        QCOMPARE(labels.join(' '), "refused timeout host_unreachable network_unreachable "
                                   "not_permitted no_descriptor name_not_found reset address "
                                   "tls_handshake tls_certificate tls_timeout tls failed");
        QCOMPARE(ResponderMetrics({{7010, "udp", 5, 2}, {862, "stamp", 1, 0}}),
                 "# HELP selmarin_responder_answered_total AutoPing queries answered.\n"
                 "# TYPE selmarin_responder_answered_total counter\n"
                 "selmarin_responder_answered_total{port=\"7010\",protocol=\"udp\"} 5\n"
                 "selmarin_responder_answered_total{port=\"862\",protocol=\"stamp\"} 1\n"
                 "# HELP selmarin_responder_datagrams_dropped_total Datagrams that arrived and "
                 "were dropped: the queue was full.\n"
                 "# TYPE selmarin_responder_datagrams_dropped_total counter\n"
                 "selmarin_responder_datagrams_dropped_total{port=\"7010\",protocol=\"udp\"} 2\n"
                 "selmarin_responder_datagrams_dropped_total{port=\"862\",protocol=\"stamp\"} 0\n");
    }

    // An ICMP message in words, as a router's answer is told: every
    // unreachable code named, the ends of the tables and what lies past them.
    void icmpInWords_data()
    {
        columns<bool, int, int, QString>("ipv6", "type", "code", "words");
        dataRow("v4 first", false, 3, 0, "destination unreachable, network unreachable");
        dataRow("v4 prohibited", false, 3, 13,
                "destination unreachable, communication administratively prohibited");
        dataRow("v4 last", false, 3, 15, "destination unreachable, precedence cut-off in effect");
        dataRow("v4 past", false, 3, 16, "destination unreachable, code 16");
        dataRow("v4 other", false, 42, 1, "ICMP type 42, code 1");
        dataRow("v6 port", true, 1, 4, "destination unreachable, port unreachable");
        dataRow("v6 last", true, 1, 6, "destination unreachable, reject route to destination");
        dataRow("v6 past", true, 1, 7, "destination unreachable, code 7");
        dataRow("v6 other", true, 200, 0, "ICMPv6 type 200, code 0");
    }
    void icmpInWords()
    {
        const auto [ipv6, type, code] = fetched<bool, int, int>("ipv6", "type", "code");
        QTEST(IcmpWords(ipv6, type, code), "words");
    }

    // A sweep's hop lines: a round trip only for an answer to the first
    // packet; a router's message after a silent hop is not said to be that hop's.
    void hopLines_data()
    {
        columns<bool, bool, bool, bool, QString>("silence", "icmp", "reached", "sentAgain", "line");
        const QString rejected = " 2  10.0.0.1  unreachable, after the SYN went again";
        dataRow("time exceeded after silence", true, false, false, false,
                " 2  10.0.0.1  1.500 ms  time exceeded");
        dataRow("rejected", false, true, false, true, rejected);
        dataRow("rejected after silence", true, true, false, true,
                rejected + " (from a router at or before this hop)");
        dataRow("the host's own message after silence", true, true, true, false,
                " 2  10.0.0.1  1.500 ms  unreachable");
    }
    void hopLines()
    {
        const auto [silence, icmp, reached, sentAgain]
            = fetched<bool, bool, bool, bool>("silence", "icmp", "reached", "sentAgain");
        PathVerdict v;
        IcmpSeen seen;
        seen.present = icmp;
        v.hops = {{1, silence ? "" : "10.0.0.2", 700, "time exceeded", false, {}, false},
                  {2, "10.0.0.1", 1500, icmp ? "unreachable" : "time exceeded", reached, seen,
                   sentAgain}};
        QTEST(StepLines(Step::Swept, v).last(), "line");
    }

    // The words of the session's and a responder's events, for the kinds
    // the other tests do not meet: they are the lines' own.
    void eventWords_data()
    {
        columns<QString, QString>("said", "words");
        const auto end = [](ClientEnd::Kind kind) {
            return ClientEndText({kind, 10054, "Connection reset by peer.", 7});
        };
        TlsUsed used;
        used.caFile = "ca.pem";
        used.insecure = true;
        dataRow("one line's escape", RefusalText({Refusal::Kind::BadEscape, "what", 0, 4}),
                "Nothing sent: at character 4, what");
        dataRow("a line's escape", RefusalText({Refusal::Kind::BadEscape, "what", 2, 4}),
                "Nothing sent: at line 2, character 4, what");
        dataRow("procedures",
                ProcedurePiece(Procedure::CheckPort) + ProcedurePiece(Procedure::StateWatch)
                    + ProcedurePiece(Procedure::DatagramsDropped),
                " in frmMain.CheckPort;  in frmMain.Timer1_Timer;  in "
                "frmMain.Winsock1_DatagramsDropped; ");
        dataRow("a client CA, insecure", TlsUsedLines(used).join('|'),
                "Trusting the certificates in ca.pem instead of the system's|Insecure: a "
                "certificate that does not verify is accepted for this connection");
        dataRow("client ends",
                QStringList{end(ClientEnd::Kind::Ended), end(ClientEnd::Kind::Failed),
                            end(ClientEnd::Kind::NotALoad), end(ClientEnd::Kind::Evicted)}
                    .join('|'),
                "ended: 10054 Connection reset by peer.|failed: 0x2746 Connection reset by peer.|"
                "closed: not a load's stream|closed: silent for 7 s, and its place was needed");
    }
    void eventWords()
    {
        QFETCH(QString, said);
        QTEST(said, "words");
    }

    // The numbered texts as a responder reads them (0: plain, -1: none) and
    // writes them back, and what is left of a text without them (rest).
    void probeTexts_data()
    {
        columns<QString, int, QString, QString>("text", "seq", "rest", "tokens");
        dataRow("plain, with a line end", "++ AutoPing Query ++\r\n", 0, "", "-");
        dataRow("the largest number", "++ AutoPing Response ++ #2147483647", INT_MAX, "", "-");
        dataRow("one more, 0, a sign, no digits, more after",
                "++ AutoPing Query ++ #2147483648|++ AutoPing Query ++ #0|++ AutoPing Query ++ #+5|"
                "++ AutoPing Query ++ #|++ AutoPing Query ++ #5x++ AutoPing Response ++\r\n\n/",
                -1, " #2147483648| #0| #+5| #|x/", "-|-|-|-|-");
        dataRow("tokens: whole and padded, truncated, empty",
                "++ AutoPing Response ++ #7 ~0123456789abcdef ...\n|++ AutoPing Query ++ #7 "
                "~0123|++ AutoPing Response ++ #7 ~",
                7, "||", "0123456789abcdef|0123|");
        dataRow("no token: not hex, upper case, after the padding",
                "++ AutoPing Query ++ #7 ~01x|++ AutoPing Query ++ #7 ~AB|++ AutoPing Query ++ #7 "
                ".. ~ab",
                -1, "x|AB| ~ab", "-|-|-");
    }
    void probeTexts()
    {
        const auto [text, seq, tokens] = fetched<QString, int, QString>("text", "seq", "tokens");
        QTEST(WithoutProbeTexts(text), "rest");
        const QStringList parts = text.split('|');
        for (qsizetype i = 0; i < parts.size(); ++i) {
            const auto read = ReadProbeDatagram(parts[i]);
            QCOMPARE(read ? read->seq.value_or(0) : -1, seq);
            QCOMPARE(read ? read->token.value_or("-") : "-", tokens.split('|')[i]);
            if (seq > 0)
                QCOMPARE(ProbeTextOf(read->kind, seq, read->size, read->token), parts[i]);
        }
    }

    // A stream's texts as they come in pieces (|): each found as
    // number:size:token (0: none, -: no token), numbered only when padded.
    void streamTexts_data()
    {
        columns<QString, QString>("pieces", "found");
        dataRow("bare, split and two in one", "++ AutoPing Resp|onse ++\r\n++ AutoPing Response ++",
                "0:0:-,0:0:-");
        // (A piece that ends with the fixed text is a bare text at once: a
        // window sends no more.)
        dataRow("numbered, token and padding, split at every field",
                "++ AutoPing Response ++ #|1|2 ~ab|cd .|..|\n", "12:38:abcd");
        dataRow("padded without a number; a space at the end waits",
                "++ AutoPing Query ++ ...\n++ AutoPing Response ++ |.\n", "0:25:-,0:26:-");
        dataRow("a number without padding is a bare text", "++ AutoPing Response ++ #5\n", "0:0:-");
    }
    void streamTexts()
    {
        const auto [pieces] = fetched<QString>("pieces");
        ProbeStream stream;
        QStringList found;
        for (const QString &piece : pieces.split('|'))
            for (const ProbeText &t : stream.feed(piece))
                found << QStringLiteral("%1:%2:%3")
                             .arg(t.seq.value_or(0))
                             .arg(t.size)
                             .arg(t.token.value_or("-"));
        QTEST(found.join(','), "found");
    }
};

QTEST_MAIN(TestProbe)
#include "tst_probe.moc"
