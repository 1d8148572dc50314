// Selmarin: an interactive TCP/IP connectivity test tool.
#include "application.h"
#include "windowicon.h"
#include "console/frmmain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication qapp(argc, argv);
    DescribeApplication();

    // Made after the QApplication and gone before it: windows destroyed
    // after the application object would crash the program on its way out.
    Application app(Seams::system());
    app.Main();
    // A start-up that stopped after writing its report has made the main
    // window to show it: the user reads the report there and closes the
    // window.  A start-up that stopped without a window (no network
    // connection) ends here.
    const bool shown = app.window() && app.window()->isVisible();
    return shown ? qapp.exec() : 0;
}
