// What a screen reader learns from the main window: every control's name, the
// tool tips as descriptions, the lights' state as text, and a tab order that
// follows the layout.

#include "console/frmmain.h"
#include "console/statuslight.h"
#include "support/fakes.h"
#include "support/loadedwindow.h"

#include <QAccessible>
#include <QComboBox>
#include <QtTest>

namespace {

QAccessibleInterface *accessibleOf(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    if (!iface)
        qFatal("no accessible interface for %s", qPrintable(widget->objectName()));
    return iface;
}

QString accName(QWidget *widget) { return accessibleOf(widget)->text(QAccessible::Name); }

// The names of what labels the widget (for a control in a frame: the frame).
QStringList accLabels(QWidget *widget)
{
    QStringList labels;
    const auto relations = accessibleOf(widget)->relations(QAccessible::Label);
    for (const auto &relation : relations)
        labels.append(relation.first->text(QAccessible::Name));
    return labels;
}

// What a screen reader calls the control.  On Linux a combo box's name is its
// current text and its label says what it is.
QString heardName(QWidget *widget)
{
    if (qobject_cast<QComboBox *>(widget))
        return accLabels(widget).value(0);
    return accName(widget);
}
QString accDescription(QWidget *widget) { return accessibleOf(widget)->text(QAccessible::Description); }

} // namespace

class TstAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controlNames_data();
    void controlNames();
    void everyControlIsNamed();
    void fieldsAreLabelledByTheirEnd_data();
    void fieldsAreLabelledByTheirEnd();
    void toolTipsDescribe();
    void openButtonIsNamedByItsCaption_data();
    void openButtonIsNamedByItsCaption();
    void lightsTellTheStatus_data();
    void lightsTellTheStatus();
    void tabOrderFollowsLayout();

private:
    LoadedWindow m_loaded;
    FrmMain *m_window = nullptr;
    QWidget *control(const char *name) { return m_window->findChild<QWidget *>(QLatin1String(name)); }
    StatusLight *light(const char *name) { return m_window->findChild<StatusLight *>(QLatin1String(name)); }
};

void TstAccessibility::init()
{
    m_loaded.load();
    m_window = m_loaded.window.get();
    QVERIFY(m_window->isVisible());
}

void TstAccessibility::cleanup()
{
    m_loaded.reset();
    m_window = nullptr;
}

void TstAccessibility::controlNames_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    const char *rows[][2] = {
        {"optMode_0", "Client mode"},     {"optMode_1", "Server mode"},
        {"optProtocol_0", "TCP"},         {"optProtocol_1", "UDP"},
        {"cmdConnect", "Connect"},        {"cmdRemotes", "Remotes"},
        {"cboLocAddress", "Local address"}, {"txtLocPort", "Local port"},
        {"cboRemAddress", "Remote address"}, {"txtRemPort", "Remote port"},
        {"txtMsgs", "Messages"},          {"shpError", "Error light"},
        {"shpProg", "Progress light"},    {"shpOk", "OK light"},
        {"cmdSend", "Send"},              {"txtSend", "Text to send"},
        {"cmdAutoPing", "Auto Ping"},     {"fraModes", "Mode and protocol"},
        {"fraLights", "Status lights"},   {"fraLocal", "Local"},
        {"fraRemote", "Remote"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
}

void TstAccessibility::controlNames()
{
    QFETCH(QString, control);
    QFETCH(QString, name);
    QWidget *widget = m_window->findChild<QWidget *>(control);
    QVERIFY(widget);
    QCOMPARE(heardName(widget), name);
}

void TstAccessibility::everyControlIsNamed()
{
    // Whatever the keyboard can reach, and every light, has a name; so has
    // the edit field inside each combo box.
    int checked = 0;
    const auto widgets = m_window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (widget->window() != m_window)
            continue; // popups of the combo boxes
        const bool reachable = (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy();
        if (!reachable && !qobject_cast<StatusLight *>(widget))
            continue;
        ++checked;
        QVERIFY2(!heardName(widget).trimmed().isEmpty(),
                 qPrintable(QStringLiteral("%1 (%2) has no accessible name")
                                .arg(widget->objectName(), widget->metaObject()->className())));
    }
    QVERIFY(checked >= 17);
}

void TstAccessibility::fieldsAreLabelledByTheirEnd_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("label");
    QTest::newRow("local address") << QStringLiteral("cboLocAddress") << QStringLiteral("Local address");
    QTest::newRow("local port") << QStringLiteral("txtLocPort") << QStringLiteral("Local port");
    QTest::newRow("remote address") << QStringLiteral("cboRemAddress") << QStringLiteral("Remote address");
    QTest::newRow("remote port") << QStringLiteral("txtRemPort") << QStringLiteral("Remote port");
}

void TstAccessibility::fieldsAreLabelledByTheirEnd()
{
    // Not just "Address" or "Port": the frame labelling the field names the end.
    QFETCH(QString, control);
    QFETCH(QString, label);
    QCOMPARE(accLabels(m_window->findChild<QWidget *>(control)), QStringList{label});
}

void TstAccessibility::toolTipsDescribe()
{
    // The names are added beside the tool tips, which stay the descriptions.
    QCOMPARE(control("txtLocPort")->toolTip(), QStringLiteral("Any decimal number between 1 and 65535"));
    QCOMPARE(control("fraLights")->toolTip(), QStringLiteral("Indicates the current connection state"));
    const auto widgets = m_window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        // The lights' frame describes the status instead (see lightsTellTheStatus).
        if (widget->toolTip().isEmpty() || widget->objectName() == QLatin1String("fraLights"))
            continue;
        QVERIFY2(accDescription(widget) == widget->toolTip(), qPrintable(widget->objectName()));
    }
}

void TstAccessibility::openButtonIsNamedByItsCaption_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("name");
    QTest::newRow("TCP client") << 0 << 0 << QStringLiteral("Connect");
    QTest::newRow("TCP server") << 1 << 0 << QStringLiteral("Listen");
    QTest::newRow("UDP client") << 0 << 1 << QStringLiteral("Bind");
    QTest::newRow("UDP server") << 1 << 1 << QStringLiteral("Bind");
}

void TstAccessibility::openButtonIsNamedByItsCaption()
{
    // The name follows what the button does now, without the access key mark.
    QFETCH(int, mode);
    QFETCH(int, protocol);
    QFETCH(QString, name);
    m_window->optMode_Click(mode);
    m_window->optProtocol_Click(protocol);
    QCOMPARE(accName(control("cmdConnect")), name);
}

void TstAccessibility::lightsTellTheStatus_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("lights"); // error, progress, ok
    QTest::addColumn<QString>("overall");
    const QString off = QStringLiteral("Off");
    QTest::newRow("ok") << QStringLiteral("ok")
                        << QStringList{off, off, QStringLiteral("Status: connected")}
                        << QStringLiteral("Status: connected");
    QTest::newRow("pending") << QStringLiteral("pending")
                             << QStringList{off, QStringLiteral("Status: in progress"), off}
                             << QStringLiteral("Status: in progress");
    QTest::newRow("bad") << QStringLiteral("bad")
                         << QStringList{QStringLiteral("Status: error"), off, off}
                         << QStringLiteral("Status: error");
    QTest::newRow("any other word") << QStringLiteral("OK")
                                    << QStringList{QStringLiteral("Status: error"), off, off}
                                    << QStringLiteral("Status: error");
}

void TstAccessibility::lightsTellTheStatus()
{
    QFETCH(QString, status);
    QFETCH(QStringList, lights);
    QFETCH(QString, overall);
    StatusLight *error = light("shpError");
    StatusLight *progress = light("shpProg");
    StatusLight *ok = light("shpOk");
    // From every other status, so each light really changes.
    for (const QString &before : {QStringLiteral("ok"), QStringLiteral("pending"), QStringLiteral("bad")}) {
        m_window->ShowStatus(before);
        m_window->ShowStatus(status);
        QCOMPARE(accDescription(error), lights[0]);
        QCOMPARE(accDescription(progress), lights[1]);
        QCOMPARE(accDescription(ok), lights[2]);
        QCOMPARE(accDescription(control("fraLights")), overall);
    }
    for (StatusLight *lamp : {error, progress, ok})
        QCOMPARE(accessibleOf(lamp)->role(), QAccessible::Indicator);
}

void TstAccessibility::tabOrderFollowsLayout()
{
    // Top left, top right, middle, bottom; left to right within a row.
    const QStringList expected{
        QStringLiteral("optMode_0"),     QStringLiteral("optMode_1"),
        QStringLiteral("optProtocol_0"), QStringLiteral("optProtocol_1"),
        QStringLiteral("cmdConnect"),    QStringLiteral("cmdRemotes"),
        QStringLiteral("cboLocAddress"), QStringLiteral("txtLocPort"),
        QStringLiteral("cboRemAddress"), QStringLiteral("txtRemPort"),
        QStringLiteral("txtMsgs"),       QStringLiteral("cmdSend"),
        QStringLiteral("txtSend"),       QStringLiteral("cmdAutoPing"),
    };
    QStringList chain;
    QWidget *start = control("optMode_0");
    QWidget *widget = start;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy()
            && widget->window() == m_window)
            chain.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != start && chain.size() <= expected.size());
    QCOMPARE(chain, expected);
}

QTEST_MAIN(TstAccessibility)
#include "tst_accessibility.moc"
