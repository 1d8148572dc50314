#include "checkaddress.h"

#include "startup/failure.h"

// Placeholder until the address rules land: refuses everything with a clear reason.
bool CheckAddress(const QString &, QString &message)
{
    message = QStringLiteral("Address rules are not available yet");
    return false;
}

bool CheckIP(const QString &, QString &message)
{
    message = QStringLiteral("Address rules are not available yet");
    return false;
}

bool CheckIsBcst(const QStringList &)
{
    return true;
}
