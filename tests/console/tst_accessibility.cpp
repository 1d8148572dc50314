// What a screen reader learns from the main window: every control's name, the
// tool tips as descriptions, the lights' state as text (and which lamp is
// lit), and a tab order that follows the layout.

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
QString accDescription(QWidget *widget) { return accessibleOf(widget)->text(QAccessible::Description); }

// The names of what labels the widget (for a control in a frame: the frame).
QStringList accLabels(QWidget *widget)
{
    QStringList labels;
    for (const auto &relation : accessibleOf(widget)->relations(QAccessible::Label))
        labels.append(relation.first->text(QAccessible::Name));
    return labels;
}

// What a screen reader calls the control.  On Linux a combo box's name is its
// current text and its label says what it is.
QString heardName(QWidget *widget)
{
    return qobject_cast<QComboBox *>(widget) ? accLabels(widget).value(0) : accName(widget);
}

bool reachable(QWidget *widget, QWidget *window)
{
    return (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy() && widget->window() == window;
}

} // namespace

class TstAccessibility : public QObject
{
    Q_OBJECT

    LoadedWindow m_loaded;
    FrmMain *m_window = nullptr;
    QWidget *control(const QString &name) { return m_window->findChild<QWidget *>(name); }

private slots:
    void init()
    {
        m_loaded.load();
        m_window = m_loaded.window.get();
        QVERIFY(m_window->isVisible());
    }
    void cleanup() { m_loaded.reset(); }

    void controlNames_data()
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
    void controlNames()
    {
        QFETCH(QString, control);
        QFETCH(QString, name);
        QWidget *widget = this->control(control);
        QVERIFY(widget);
        QCOMPARE(heardName(widget), name);
        // Not just "Address" or "Port": the frame labelling a field names the end.
        if (control.contains("Address") || control.contains("Port"))
            QCOMPARE(accLabels(widget), QStringList{name});
    }

    // Whatever the keyboard can reach, and every light, has a name; so has
    // the edit field inside each combo box.
    void everyControlIsNamed()
    {
        int checked = 0;
        for (QWidget *widget : m_window->findChildren<QWidget *>()) {
            if (!reachable(widget, m_window) && !qobject_cast<StatusLight *>(widget))
                continue;
            ++checked;
            QVERIFY2(!heardName(widget).trimmed().isEmpty(), qPrintable(widget->objectName()));
        }
        QVERIFY(checked >= 17);
    }

    // The names are added beside the tool tips, which stay the descriptions;
    // the lights' frame describes the status instead.
    void toolTipsDescribe()
    {
        for (QWidget *widget : m_window->findChildren<QWidget *>()) {
            if (!widget->toolTip().isEmpty() && widget->objectName() != QLatin1String("fraLights"))
                QVERIFY2(accDescription(widget) == widget->toolTip(), qPrintable(widget->objectName()));
        }
    }

    void lightsTellTheStatus_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("lit"); // 0 error, 1 progress, 2 ok
        QTest::addColumn<QString>("overall");
        QTest::newRow("ok") << "ok" << 2 << "Status: connected";
        QTest::newRow("pending") << "pending" << 1 << "Status: in progress";
        QTest::newRow("bad") << "bad" << 0 << "Status: error";
        QTest::newRow("any other word") << "OK" << 0 << "Status: error";
        QTest::newRow("empty") << "" << 0 << "Status: error";
    }
    void lightsTellTheStatus()
    {
        QFETCH(QString, status);
        QFETCH(int, lit);
        QFETCH(QString, overall);
        const QStringList names{"shpError", "shpProg", "shpOk"};
        const quint32 colours[] = {0x0000FF, 0x00FFFF, 0x00FF00};
        // From every other status, so each light really changes.
        for (const char *before : {"ok", "pending", "bad"}) {
            m_window->ShowStatus(before);
            m_window->ShowStatus(status);
            for (int i = 0; i < 3; ++i) {
                auto *light = static_cast<StatusLight *>(control(names[i]));
                QCOMPARE(accDescription(light), i == lit ? overall : QStringLiteral("Off"));
                QCOMPARE(light->FillColor(), i == lit ? colours[i] : 0u); // exactly one lamp lit
            }
            QCOMPARE(accDescription(control("fraLights")), overall);
        }
        for (const QString &name : names)
            QCOMPARE(accessibleOf(control(name))->role(), QAccessible::Indicator);
    }

    // Top left, top right, middle, bottom; left to right within a row.
    void tabOrderFollowsLayout()
    {
        const QStringList expected{"optMode_0", "optMode_1", "optProtocol_0", "optProtocol_1",
                                   "cmdConnect", "cmdRemotes", "cboLocAddress", "txtLocPort",
                                   "cboRemAddress", "txtRemPort", "txtMsgs", "cmdSend",
                                   "txtSend", "cmdAutoPing"};
        QStringList chain;
        QWidget *start = control("optMode_0");
        QWidget *widget = start;
        do {
            if (reachable(widget, m_window))
                chain.append(widget->objectName());
            widget = widget->nextInFocusChain();
        } while (widget != start && chain.size() <= expected.size());
        QCOMPARE(chain, expected);
    }
};

QTEST_MAIN(TstAccessibility)
#include "tst_accessibility.moc"
