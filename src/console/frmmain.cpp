// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "frmmain.h"

#include "accessibility.h"
#include "diagnose/diagnosis.h"
#include "frmaddress.h"
#include "ui_frmmain.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>

FrmMain::FrmMain(const ConsoleContext &context, QWidget *parent)
    : QWidget(parent),
      m_context(context),
      m_lines(context.lines),
      ui(new Ui::FrmMain),
      m_session(context.tables, context.rules),
      m_sessionLines(m_session, context.tables, context.lines),
      m_probe(*this, context.lines)
{
    ui->setupUi(this);
    ui->optMode->setId(ui->optMode_0, 0);
    ui->optMode->setId(ui->optMode_1, 1);
    ui->optProtocol->setId(ui->optProtocol_0, 0);
    ui->optProtocol->setId(ui->optProtocol_1, 1);
    ui->optProtocol->setId(ui->optProtocol_2, 2);
    setWindowTitle(QStringLiteral("Selmarin"));
    applyFonts();
    setupPane();
    DescribeControls(*ui);
    connectHandlers();
    setupDiagnosis();

    // Enter presses the default button from anywhere in the window.
    const auto children = findChildren<QWidget *>();
    for (QWidget *child : children)
        child->installEventFilter(this);
}

FrmMain::~FrmMain()
{
    if (!m_ended)
        Form_Terminate();
    delete ui;
}

void FrmMain::applyFonts()
{
    // The window's proportional and fixed-pitch faces, with the usual Linux
    // faces behind them when they are not installed.
    QFont sans;
    sans.setFamilies({QStringLiteral("Lucida Sans Unicode"), QStringLiteral("Lucida Sans"),
                      QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    sans.setPointSizeF(8.25);
    sans.setBold(false); // explicit, so children of bold frames stay normal
    QFont sansBold = sans;
    sansBold.setBold(true);
    QFont fixed;
    fixed.setFamilies({QStringLiteral("Lucida Console"), QStringLiteral("DejaVu Sans Mono"),
                       QStringLiteral("Liberation Mono"), QStringLiteral("Monospace")});
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setPointSizeF(8.25);
    fixed.setBold(false);

    setFont(sans);
    for (QWidget *w :
         {static_cast<QWidget *>(ui->fraModes), static_cast<QWidget *>(ui->fraMode),
          static_cast<QWidget *>(ui->fraProtocol), static_cast<QWidget *>(ui->fraLocal),
          static_cast<QWidget *>(ui->fraRemote), static_cast<QWidget *>(ui->fraMsgs),
          static_cast<QWidget *>(ui->fraSend), static_cast<QWidget *>(ui->fraLights)})
        w->setFont(sansBold);
    for (QWidget *w : {ui->cmdConnect, ui->cmdRemotes, ui->cmdSend, ui->cmdAutoPing})
        w->setFont(sansBold);
    for (QWidget *w :
         {static_cast<QWidget *>(ui->optMode_0), static_cast<QWidget *>(ui->optMode_1),
          static_cast<QWidget *>(ui->optProtocol_0), static_cast<QWidget *>(ui->optProtocol_1),
          static_cast<QWidget *>(ui->optProtocol_2), static_cast<QWidget *>(ui->chkEscapes),
          static_cast<QWidget *>(ui->chkInsecure)})
        w->setFont(sans);
    for (QWidget *w : {ui->fraLocAddress, ui->fraLocPort, ui->fraRemAddress, ui->fraRemPort})
        w->setFont(sans);
    for (QWidget *w :
         {static_cast<QWidget *>(ui->txtMsgs), static_cast<QWidget *>(ui->txtSend),
          static_cast<QWidget *>(ui->txtLocPort), static_cast<QWidget *>(ui->txtRemPort),
          static_cast<QWidget *>(ui->cboLocAddress), static_cast<QWidget *>(ui->cboRemAddress),
          static_cast<QWidget *>(ui->cboLineEnd)})
        w->setFont(fixed);
    // A port box shows its five digits, however wide the address lists make
    // their frames (long IPv6 addresses).
    for (QLineEdit *port : {ui->txtLocPort, ui->txtRemPort})
        port->setMinimumWidth(port->fontMetrics().horizontalAdvance(QStringLiteral("99999")) + 12);
}

void FrmMain::connectHandlers()
{
    connect(ui->optMode, &QButtonGroup::idClicked, this, &FrmMain::optMode_Click);
    connect(ui->optProtocol, &QButtonGroup::idClicked, this, &FrmMain::optProtocol_Click);
    connect(ui->txtLocPort, &QLineEdit::textChanged, this, &FrmMain::txtLocPort_Change);
    connect(ui->cmdConnect, &QPushButton::clicked, this, &FrmMain::cmdConnect_Click);
    connect(ui->cmdRemotes, &QPushButton::clicked, this, &FrmMain::cmdRemotes_Click);
    connect(ui->cmdSend, &QPushButton::clicked, this, &FrmMain::cmdSend_Click);
    connect(ui->cmdAutoPing, &QPushButton::clicked, this, &FrmMain::cmdAutoPing_Click);

    // What the session reports, shown.
    connect(&m_session, &Session::stateShown, this, &FrmMain::ShowState);
    connect(&m_session, &Session::displayStale, this, &FrmMain::ShowState);
    connect(&m_session, &Session::statusShown, this, &FrmMain::ShowStatus);
    connect(&m_session, &Session::senderShown, this, &FrmMain::showSender);
    connect(&m_probe, &AutoPing::measured, this, &FrmMain::showFigures);
    // The probe's texts: its query timed from when it was handed over, a
    // response from when it was taken from the socket.
    connect(&m_session, &Session::dataSent, this, [this](const DataSeen &sent) {
        if (!sent.lineEnded && sent.text == AutoPingQuery)
            m_probe.noteQueryHandedOver(sent.atUs);
    });
    connect(&m_session, &Session::dataArrived, this, [this](const DataSeen &arrived) {
        if (m_config.role == Session::Role::Client && !arrived.probeTexts.isEmpty())
            m_probe.noteResponse(arrived.atUs);
    });
    // The Close and Error events end the probe.
    connect(&m_session, &Session::peerClosed, &m_probe, &AutoPing::stop);
    connect(&m_session, &Session::socketFailed, &m_probe, &AutoPing::stop);
}

void FrmMain::setDefaultButton(QPushButton *button)
{
    if (m_defaultButton == button)
        return;
    if (m_defaultButton)
        m_defaultButton->setDefault(false);
    m_defaultButton = button;
    if (m_defaultButton)
        m_defaultButton->setDefault(true);
}

bool FrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return QWidget::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    // Only the window's own controls: not an open list of a combo box.
    if (!widget || widget->window() != this)
        return QWidget::eventFilter(watched, event);

    // Ctrl+Enter in the send box starts a new line of the text to send.
    if (watched == ui->txtSend && (key->modifiers() & Qt::ControlModifier)) {
        ui->txtSend->insertPlainText(QStringLiteral("\n"));
        return true;
    }
    // Enter on a focused button presses that button; elsewhere the default one.
    QPushButton *target = qobject_cast<QPushButton *>(watched);
    if (!target)
        target = m_defaultButton;
    if (target && target->isEnabled() && target->isVisible())
        target->click();
    return true;
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}
