#pragma once
#include <QString>

inline const QString CRLF = QStringLiteral("\r\n");

// Where every line the program tells the user goes.  The main window
// implements it with its messages pane and the log; tests record the lines.
class MsgSink
{
public:
    virtual ~MsgSink() = default;
    virtual void AddToMsgsBox(const QString &speaker, const QString &sentence) = 0;
};
