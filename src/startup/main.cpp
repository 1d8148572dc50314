// Selmarin: an interactive TCP/IP connectivity test tool.
#include "startup/globals.h"
#include "startup/startup.h"
#include "startup/windowicon.h"
#include "console/frmmain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    DescribeApplication();

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
