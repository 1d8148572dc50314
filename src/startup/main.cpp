// Selmarin: an interactive TCP/IP connectivity test tool.
#include "startup/globals.h"
#include "startup/startup.h"
#include "startup/windowicon.h"
#include "console/frmmain.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Selmarin"));
    QApplication::setOrganizationName(QStringLiteral("Selmarin"));
    // The menu entry's name, so the desktop matches the windows to it, and
    // the icon every window shows.  The icon comes as PNGs rendered from the
    // SVG: Qt reads SVG only with an extra plugin.
    QApplication::setDesktopFileName(QStringLiteral("io.github.selmarin.Selmarin"));
    QMap<int, QString> icons;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icons.insert(size, QStringLiteral(":/icons/selmarin-%1.png").arg(size));
    QApplication::setWindowIcon(SizedIcon(icons));

    Main();
    // A start-up that stopped after writing its report has made the main
    // window to show it: the user reads the report there and closes the
    // window.  A start-up that stopped without a window (no network
    // connection) ends here.
    Globals &g = Globals::instance();
    const bool shown = g.hasFrmMain() && g.frmMain().isVisible();
    const int code = shown ? app.exec() : 0;
    // The global objects go while the application object still exists: a
    // window destroyed after it would crash the program on its way out.
    Globals::reset();
    return code;
}
