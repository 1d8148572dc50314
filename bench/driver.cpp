// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The bench driver: the program's own start-up (the same steps as
// src/app/main.cpp), then the main window driven through its controls by
// commands read line by line from standard input.  bench/bench.py starts it,
// sends the commands and reads the answers; nothing here changes how the
// window works.
//
// First line out: "shown <CLOCK_MONOTONIC ns>" at the main window's first
// paint, or "failed" when start-up stopped.
//
// Commands (one answer line each):
//   open tcp|udp|tls <port>  server mode on 127.0.0.1:<port>; answers once
//                         the socket listens (TCP, TLS) or is open (UDP)
//   connect tls <port>    client mode to localhost:<port>, TLS with the
//                         insecure choice; answers once connected
//   probe [udp|tcp] <port>  a client towards localhost:<port> (UDP unless
//                         tcp is named) that runs AutoPing (clicks the button)
//   close                 closes the socket if it is open
//   reset                 forgets the longest event-loop delay seen so far
//   watch on|off          the lateness timer (off while idle CPU is measured)
//   stats                 "late_max_ms=.. wall_max_ms=.. rss_kb=.. pane_blocks=.. state=..
//                         older_note=0|1"
//   quit                  closes the window (the program's own unload)
//
// Lateness: a precise timer every TickMs; each tick records how much later
// than due it ran.  That is how long the event loop was kept from the timer,
// i.e. how long the window could not react to the user.  On a shared machine
// the process may also simply not get the processor; so each late tick also
// counts the processor time the thread used meanwhile, and late_max_ms is the
// longest delay the program's own work caused (the smaller of the two), while
// wall_max_ms is the longest delay seen at all.

#include "app/application.h"
#include "app/windowicon.h"
#include "console/frmmain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

constexpr int TickMs = 5;

qint64 clockNs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

qint64 monotonicNs()
{
    return clockNs(CLOCK_MONOTONIC);
}

long rssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void answer(const QByteArray &line)
{
    const QByteArray out = line + '\n';
    (void) !::write(STDOUT_FILENO, out.constData(), size_t(out.size()));
}

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !done) {
            done = true;
            answer("shown " + QByteArray::number(monotonicNs()));
        }
        return QObject::eventFilter(watched, event);
    }
    bool done = false;
};

class Lateness
{
public:
    Lateness()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(TickMs);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 late = clock.nsecsElapsed() - qint64(TickMs) * 1000000;
            const qint64 cpu = clockNs(CLOCK_THREAD_CPUTIME_ID);
            clock.restart();
            worstWallNs = std::max(worstWallNs, late);
            worstNs = std::max(worstNs, std::min(late, cpu - cpuAtTick));
            cpuAtTick = cpu;
        });
    }
    void start()
    {
        clock.start();
        cpuAtTick = clockNs(CLOCK_THREAD_CPUTIME_ID);
        timer.start();
    }
    void stop() { timer.stop(); }
    QTimer timer;
    QElapsedTimer clock;
    qint64 cpuAtTick = 0;
    qint64 worstNs = 0;     // caused by the program's own work
    qint64 worstWallNs = 0; // seen at all
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    DescribeApplication(); // as the program does, so start-up costs the same

    FirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
    Application program(Seams::system());
    if (!program.Main()) {
        answer("failed");
        return 1;
    }
    FrmMain &window = *program.window();
    const Session &session = window.session();
    const auto stateCode = [&] { return qint16(session.state()); };
    // The window's controls, by their names.
    const auto button = [&](const char *name) { return window.findChild<QAbstractButton *>(name); };
    QComboBox *cboLocAddress = window.findChild<QComboBox *>("cboLocAddress");
    QLineEdit *txtLocPort = window.findChild<QLineEdit *>("txtLocPort");
    QPlainTextEdit *txtMsgs = window.findChild<QPlainTextEdit *>("txtMsgs");
    QLabel *lblOlderLines = window.findChild<QLabel *>("lblOlderLines");

    Lateness lateness;
    QTimer::singleShot(0, [&] {
        app.removeEventFilter(&firstPaint);
        if (!firstPaint.done)
            answer("shown " + QByteArray::number(monotonicNs()));
        lateness.start();
    });

    // Waits (in the event loop) for the socket to reach a state, then answers.
    auto answerWhen = [&](SocketState wantedState) {
        const qint16 wanted = qint16(wantedState);
        auto *poll = new QTimer(&app);
        auto *clock = new QElapsedTimer;
        clock->start();
        QObject::connect(poll, &QTimer::timeout, [&, poll, clock, wanted] {
            const qint16 state = stateCode();
            if (state == wanted || clock->elapsed() > 5000) {
                answer(state == wanted ? "ok" : "error state=" + QByteArray::number(state));
                poll->deleteLater();
                delete clock;
            }
        });
        poll->start(1);
    };

    // Clicks a button once the socket is in a state and the state display
    // has enabled the button (a moment later), within 5 s.
    auto clickWhenEnabled = [&](const char *name, SocketState wantedState) {
        const qint16 wanted = qint16(wantedState);
        auto *poll = new QTimer(&app);
        auto *clock = new QElapsedTimer;
        clock->start();
        QObject::connect(poll, &QTimer::timeout, [&, poll, clock, name, wanted] {
            const bool enabled = stateCode() == wanted && button(name)->isEnabled();
            if (enabled || clock->elapsed() > 5000) {
                if (enabled)
                    button(name)->click();
                poll->deleteLater();
                delete clock;
            }
        });
        poll->start(1);
    };

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            window.close();
            return;
        }
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = pending.left(end).trimmed().split(' ');
            pending.remove(0, end + 1);
            const QByteArray &command = words.value(0);
            if ((command == "open" || command == "connect") && words.size() == 3) {
                const bool client = command == "connect", udp = words[1] == "udp";
                const int protocol = udp ? 1 : words[1] == "tls" ? 2 : 0;
                button(client ? "optMode_0" : "optMode_1")->click();
                button(QByteArray("optProtocol_" + QByteArray::number(protocol)).constData())
                    ->click();
                if (client) {
                    button("chkInsecure")->setChecked(true);
                    window.findChild<QComboBox *>("cboRemAddress")
                        ->setEditText(QStringLiteral("localhost"));
                    window.findChild<QLineEdit *>("txtRemPort")
                        ->setText(QString::fromLatin1(words[2]));
                } else {
                    cboLocAddress->setEditText(QStringLiteral("127.0.0.1"));
                    txtLocPort->setText(QString::fromLatin1(words[2]));
                }
                if (session.state() != SocketState::Closed)
                    button("cmdConnect")->click();
                button("cmdConnect")->click();
                answerWhen(client ? SocketState::Connected
                           : udp  ? SocketState::Open
                                  : SocketState::Listening);
            } else if (command == "probe" && (words.size() == 2 || words.size() == 3)) {
                // A client towards localhost:<port>, running AutoPing.
                const bool tcp = words.size() == 3 && words[1] == "tcp";
                button("optMode_0")->click();
                button(tcp ? "optProtocol_0" : "optProtocol_1")->click();
                window.findChild<QComboBox *>("cboRemAddress")
                    ->setEditText(QStringLiteral("localhost"));
                window.findChild<QLineEdit *>("txtRemPort")
                    ->setText(QString::fromLatin1(words.last()));
                if (session.state() != SocketState::Closed)
                    button("cmdConnect")->click();
                button("cmdConnect")->click();
                const SocketState ready = tcp ? SocketState::Connected : SocketState::Open;
                clickWhenEnabled("cmdAutoPing", ready);
                answerWhen(ready);
            } else if (command == "close") {
                if (session.state() != SocketState::Closed)
                    button("cmdConnect")->click();
                answerWhen(SocketState::Closed);
            } else if (command == "reset") {
                lateness.worstNs = 0;
                lateness.worstWallNs = 0;
                answer("ok");
            } else if (command == "watch") {
                if (words.value(1) == "off")
                    lateness.stop();
                else
                    lateness.start();
                answer("ok");
            } else if (command == "stats") {
                answer("late_max_ms=" + QByteArray::number(double(lateness.worstNs) / 1e6, 'f', 1)
                       + " wall_max_ms="
                       + QByteArray::number(double(lateness.worstWallNs) / 1e6, 'f', 1)
                       + " rss_kb=" + QByteArray::number(rssKb())
                       + " pane_blocks=" + QByteArray::number(txtMsgs->blockCount())
                       + " state=" + QByteArray::number(stateCode())
                       + " older_note=" + (lblOlderLines->isVisible() ? "1" : "0"));
            } else if (command == "quit") {
                answer("ok");
                window.close();
            } else {
                answer("error unknown command");
            }
        }
    });
    return app.exec();
}
