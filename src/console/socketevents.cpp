// The handlers of the socket's events.  State changes themselves are not
// written here: the state watch reports every state it sees.

#include "frmmain.h"

#include "startup/failure.h"
#include "startup/globals.h"
#include "ui_frmmain.h"

void FrmMain::Winsock1_Close()
{
    Guard(*this, QStringLiteral(" in frmMain.Winsock1_Close; "), [&] {
        Winsock1.Close();
        AutoPingOn = false;
    });
}

void FrmMain::Winsock1_Connect()
{
    Guard(*this, QStringLiteral(" in frmMain.Winsock1_Connect; "), [&] {
        AddToMsgsBox(QStringLiteral("Winsock"), QStringLiteral("Connection completed") + CRLF);
    });
}

void FrmMain::Winsock1_ConnectionRequest(qint32 requestID)
{
    const auto protocol = [&] { return Globals::instance().Protocol.name(Winsock1.Protocol()); };
    const auto ends = [&] {
        return Winsock1.RemoteHostIP() + u':' + QString::number(Winsock1.RemotePort())
               + QStringLiteral(" to ") + Winsock1.LocalIP() + u':'
               + QString::number(Winsock1.LocalPort());
    };
    TryRun([&] {
        // The listening socket itself takes the connection: the window serves
        // one connection and listens no more until it is opened again.
        if (Winsock1.State() != Winsock::sckClosed)
            Winsock1.Close();
        ShowStatus(QStringLiteral("pending"));
        Winsock1.Accept(requestID);
        AddToMsgsBox(QStringLiteral("Winsock"), QStringLiteral("Accepting ") + protocol()
                                                    + QStringLiteral(" connection from ") + ends() + CRLF);
    }, [&](const RuntimeError &e) {
        AddToMsgsBox(QStringLiteral("Winsock"), QStringLiteral("Connection acceptance on ") + protocol()
                                                    + QStringLiteral(" from ") + ends()
                                                    + QStringLiteral("Failed; Error 0x") + Hex(e.number)
                                                    + CRLF);
    });
}

void FrmMain::Winsock1_DataArrival(qint32 /*bytesTotal*/)
{
    TryRun([&] {
        const QString data = Winsock1.GetData();
        ui->cboRemAddress->setEditText(Winsock1.RemoteHostIP());
        ui->txtRemPort->setText(QString::number(Winsock1.RemotePort()));

        const bool query = data == AutoPingQuery;
        const bool response = data == AutoPingResponse;
        AddToMsgsBox(QStringLiteral("Remote"), query || response ? data + CRLF : data);

        if (query && ServerMode)
            Send(AutoPingResponse);
        else if (response && !ServerMode)
            PingAnswered = true;
    }, [&](const RuntimeError &e) {
        AddToMsgsBox(QStringLiteral("** Error"), QStringLiteral("0x") + Hex(e.number)
                                                     + QStringLiteral(" in frmMain.Winsock1_DataArrival; ")
                                                     + e.description + CRLF + CRLF);
        Winsock1.Close();
        ShowState();
    });
}

void FrmMain::Winsock1_Error(qint16 number, const QString &description, qint32 scode,
                             const QString &, const QString &, qint32, bool *)
{
    Guard(*this, QStringLiteral(" in frmMain.Winsock1_Error; "), [&] {
        AddToMsgsBox(QStringLiteral("Winsock Error"),
                     QString::number(number) + CRLF + QStringLiteral("* Description:\t") + description
                         + CRLF + QStringLiteral("* Scode:\t0x") + Hex(scode) + CRLF);
        Winsock1.Close();
        AutoPingOn = false;
    });
}

void FrmMain::Winsock1_SendComplete()
{
    Guard(*this, QStringLiteral(" in frmMain.Winsock1_SendComplete; "),
          [&] { ShowStatus(QStringLiteral("ok")); });
}

void FrmMain::Winsock1_SendProgress(qint32, qint32)
{
    Guard(*this, QStringLiteral(" in frmMain.Winsock1_SendProgress; "),
          [&] { ShowStatus(QStringLiteral("pending")); });
}

// The socket could not queue datagrams as fast as they came: say so, so that
// the loss is not taken for the network's.
void FrmMain::Winsock1_DatagramsDropped(qint32 count)
{
    Guard(*this, QStringLiteral(" in frmMain.Winsock1_DatagramsDropped; "), [&] {
        AddToMsgsBox(QStringLiteral("Winsock"),
                     count == 1 ? QStringLiteral("1 datagram arrived but Selmarin dropped it: it could not log it "
                                                 "fast enough (the network did not lose it)") + CRLF
                                : QString::number(count)
                                      + QStringLiteral(" datagrams arrived but Selmarin dropped them: it could not "
                                                       "log them fast enough (the network did not lose them)")
                                      + CRLF);
    });
}
