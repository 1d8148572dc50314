// selmarin_driver: one copy of Selmarin that a test drives through stdin.
//
// It starts the way the program does (Main() with the system's environment,
// adapters, clock and log), so it reads the interfaces of the network
// namespace it runs in, PROGRAMFILES and COMPUTERNAME.  Only the dialogs are
// replaced: a message box offscreen would wait for a click that never comes,
// so a dialog is written to stdout as "dialog <text>" and answered empty.
//
// Then it reads one command per line and does what a user would do with the
// window: clicks on its buttons and typing into its boxes.  Every command is
// answered with "ok" or "error <reason>" as its last line, so the test can
// wait for each in turn.
//
//   mode server|client        protocol tcp|udp
//   local <address> <port>    remote <host> <port>    (typed into the boxes)
//   click <button>            a mouse click on cmdConnect, cmdSend, cmdAutoPing ...
//   pane                      the pane's lines, each as "| <line>"
//   state                     "state <code> shown <code> autoping <0|1> timer2 <0|1>":
//                             the socket's state, the state the window shows,
//                             the AutoPing flag and whether its clock runs
//   quit                      closes the window; the program ends
//
// Stdin at its end counts as "quit", and a copy left alone for MaxLifetimeMs
// ends by itself: a test that dies never leaves a copy behind.

#include "console/frmmain.h"
#include "startup/dialogs.h"
#include "startup/globals.h"
#include "startup/startup.h"
#include "ui_frmmain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int MaxLifetimeMs = 180'000;

void reply(const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void replyPane()
{
    for (const QString &l : Globals::instance().frmMain().msgsText().split(QStringLiteral("\r\n")))
        reply(QStringLiteral("| ") + l);
}

class StdoutDialogs final : public Dialogs
{
public:
    void MsgBox(const QString &prompt) override { reply("dialog " + QString(prompt).replace(u'\r', u' ').replace(u'\n', u' ')); }
    QString InputBox(const QString &prompt, const QString &) override
    {
        MsgBox(prompt);
        return QString();
    }
};

// Types text into a line edit as a user would: all of it selected, then the new text.
void typeInto(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

class Driver : public QObject
{
public:
    Driver()
    {
        m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_input, &QSocketNotifier::activated, this, [this] { readInput(); });
        QTimer::singleShot(MaxLifetimeMs, this, [this] { quit(); });
    }

private:
    static FrmMain &window() { return Globals::instance().frmMain(); }
    static Ui::FrmMain &ui() { return window().form(); }

    void readInput()
    {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            m_input->setEnabled(false);
            quit();
            return;
        }
        m_pending.append(chunk, got);
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(end)).trimmed();
            m_pending.remove(0, end + 1);
            if (!line.isEmpty())
                run(line);
        }
    }

    void run(const QString &line)
    {
        QStringList args = line.split(u' ', Qt::SkipEmptyParts);
        const QString command = args.takeFirst();
        QString error;
        if (command == QLatin1String("mode") && args.size() == 1) {
            click(args[0] == QLatin1String("server") ? ui().optMode_1 : ui().optMode_0, error);
        } else if (command == QLatin1String("protocol") && args.size() == 1) {
            click(args[0] == QLatin1String("udp") ? ui().optProtocol_1 : ui().optProtocol_0, error);
        } else if (command == QLatin1String("local") && args.size() == 2) {
            typeInto(ui().cboLocAddress->lineEdit(), args[0]);
            typeInto(ui().txtLocPort, args[1]);
        } else if (command == QLatin1String("remote") && args.size() == 2) {
            typeInto(ui().cboRemAddress->lineEdit(), args[0]);
            typeInto(ui().txtRemPort, args[1]);
        } else if (command == QLatin1String("click") && args.size() == 1) {
            click(window().findChild<QAbstractButton *>(args[0]), error);
        } else if (command == QLatin1String("pane")) {
            replyPane();
        } else if (command == QLatin1String("state")) {
            reply(QStringLiteral("state %1 shown %2 autoping %3 timer2 %4")
                      .arg(window().Winsock1.State())
                      .arg(window().LastState)
                      .arg(int(window().AutoPingOn))
                      .arg(int(window().Timer2.isActive())));
        } else if (command == QLatin1String("quit")) {
            reply(QStringLiteral("ok"));
            quit();
            return;
        } else {
            error = QStringLiteral("unknown command: ") + line;
        }
        reply(error.isEmpty() ? QStringLiteral("ok") : QStringLiteral("error ") + error);
    }

    static void click(QAbstractButton *button, QString &error)
    {
        if (!button)
            error = QStringLiteral("no such button");
        else if (!button->isEnabled())
            error = button->objectName() + QStringLiteral(" is disabled");
        else
            QTest::mouseClick(button, Qt::LeftButton);
    }

    // The user closes the window: its unload closes the socket and the log
    // and ends the program.
    static void quit()
    {
        Globals &g = Globals::instance();
        if (g.hasFrmMain() && g.frmMain().isVisible())
            g.frmMain().close();
        QCoreApplication::exit(0);
    }

    QSocketNotifier *m_input = nullptr;
    QByteArray m_pending;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Selmarin"));
    Globals::instance().setDialogs(std::make_unique<StdoutDialogs>());

    if (!Main()) {
        Globals &g = Globals::instance();
        if (g.hasFrmMain())
            replyPane();
        reply(QStringLiteral("failed"));
        Globals::reset();
        return 1;
    }
    int code = 0;
    {
        Driver driver;
        reply(QStringLiteral("ready"));
        code = app.exec();
    }
    // As the program does: the global objects go before the application.
    Globals::reset();
    return code;
}
