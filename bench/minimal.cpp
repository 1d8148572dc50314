// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The reference for the start-up, idle and memory figures: the smallest Qt
// Widgets program with a window (a label in a widget).  Prints
// "shown <CLOCK_MONOTONIC ns>" at the window's first paint and then idles
// until its standard input closes.

#include <QApplication>
#include <QLabel>
#include <QSocketNotifier>
#include <QVBoxLayout>

#include <ctime>
#include <unistd.h>

namespace {

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !done) {
            done = true;
            timespec ts{};
            clock_gettime(CLOCK_MONOTONIC, &ts);
            const QByteArray line
                = "shown " + QByteArray::number(qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec) + '\n';
            (void) !::write(STDOUT_FILENO, line.constData(), size_t(line.size()));
        }
        return QObject::eventFilter(watched, event);
    }
    bool done = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Hello")));
    window.show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    return app.exec();
}
