// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Accessible names of the main window's controls.
//
// A screen reader announces a control by its accessible name and reads its
// tool tip as the description, so the names here say what a control is and
// the tool tips keep saying what it does.  Controls whose caption already says
// what they are keep the caption as their name; in particular the open/close
// button is announced by its changing caption ("Connect", "Listen", "Bind",
// "Close").  Frames without a caption get a name so that a listener moving
// through the window hears where they are.
//
// On Linux a combo box's accessible name is its current text; a screen reader
// finds what the box is from its label, which for a control inside a frame is
// the frame.  The small "Address" and "Port" frames are therefore named after
// the end they belong to, and so are the fields inside them.
//
// The status lights are indicators named after their meaning; each one's
// description is its state ("Status: error" while lit, "Off" while dark), and
// the frame holding them describes the current status as a whole (in place of
// its tool tip, which stays as it is for the mouse).

#include "accessibility.h"

#include "describe.h"
#include "statuslight.h"
#include "ui_frmmain.h"

#include <QLineEdit>

namespace {

void name(QWidget *widget, const QString &text)
{
    widget->setAccessibleName(text);
}

void nameCombo(QComboBox *combo, const QString &text)
{
    combo->setAccessibleName(text);
    // The edit field inside takes the focus while the user types.
    if (QLineEdit *edit = combo->lineEdit())
        edit->setAccessibleName(text);
}

// The lit lights' texts, or "Status: none" while all are dark.
void describeLights(Ui::FrmMain &form)
{
    QStringList lit;
    for (const StatusLight *light : {form.shpError, form.shpProg, form.shpOk})
        if (light->isLit())
            lit.append(light->statusText());
    Describe(*form.fraLights,
             lit.isEmpty() ? QStringLiteral("Status: none") : lit.join(QStringLiteral(", ")));
}

} // namespace

void DescribeControls(Ui::FrmMain &form)
{
    name(form.fraModes, QStringLiteral("Mode and protocol"));
    name(form.optMode_0, QStringLiteral("Client mode"));
    name(form.optMode_1, QStringLiteral("Server mode"));
    name(form.optProtocol_0, QStringLiteral("TCP"));
    name(form.optProtocol_1, QStringLiteral("UDP"));
    name(form.optProtocol_2, QStringLiteral("TLS"));
    name(form.chkInsecure, QStringLiteral("Accept a TLS certificate that does not verify"));

    name(form.fraLocAddress, QStringLiteral("Local address"));
    nameCombo(form.cboLocAddress, QStringLiteral("Local address"));
    name(form.fraLocPort, QStringLiteral("Local port"));
    name(form.txtLocPort, QStringLiteral("Local port"));
    name(form.fraRemAddress, QStringLiteral("Remote address"));
    nameCombo(form.cboRemAddress, QStringLiteral("Remote address"));
    name(form.fraRemPort, QStringLiteral("Remote port"));
    name(form.txtRemPort, QStringLiteral("Remote port"));

    name(form.fraMsgs, QStringLiteral("Received messages and status"));
    name(form.txtMsgs, QStringLiteral("Messages"));
    // The AutoPing figures: the line's text is also its description, so a
    // screen reader reads the current figures (kept so by the window).
    name(form.fraFigures, QStringLiteral("AutoPing figures"));
    name(form.lblFigures, QStringLiteral("AutoPing figures"));
    name(form.fraSend, QStringLiteral("Send message"));
    name(form.txtSend, QStringLiteral("Text to send"));
    name(form.chkEscapes, QStringLiteral("Read escapes in the text to send"));
    nameCombo(form.cboLineEnd, QStringLiteral("Line end"));

    name(form.fraLights, QStringLiteral("Status lights"));
    const struct
    {
        StatusLight *light;
        const char *name;
        const char *status;
    } lights[] = {
        {form.shpError, "Error light", "Status: error"},
        {form.shpProg, "Progress light", "Status: in progress"},
        {form.shpOk, "OK light", "Status: connected"},
    };
    for (const auto &l : lights) {
        name(l.light, QString::fromLatin1(l.name));
        l.light->setStatusText(QString::fromLatin1(l.status));
        QObject::connect(l.light, &StatusLight::fillColorChanged, form.fraLights,
                         [&form] { describeLights(form); });
    }
    describeLights(form);
}
