// Selmarin: an interactive TCP/IP connectivity test tool.
#include "startup/globals.h"
#include "startup/startup.h"
#include "console/frmmain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Selmarin"));
    QApplication::setOrganizationName(QStringLiteral("Selmarin"));

    Main();
    // A start-up that stopped after writing its report has made the main
    // window to show it: the user reads the report there and closes the
    // window.  A start-up that stopped without a window (no network
    // connection) ends here.
    Globals &g = Globals::instance();
    if (!g.hasFrmMain() || !g.frmMain().isVisible())
        return 0;
    return app.exec();
}
