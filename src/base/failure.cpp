// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "failure.h"

QString StandardDescription(int number)
{
    switch (number) {
    case rt::InvalidCall: return QStringLiteral("Invalid procedure call or argument");
    case rt::Overflow: return QStringLiteral("Overflow");
    case rt::OutOfMemory: return QStringLiteral("Out of memory");
    case rt::SubscriptOutOfRange: return QStringLiteral("Subscript out of range");
    case rt::TypeMismatch: return QStringLiteral("Type mismatch");
    case rt::BadFileName: return QStringLiteral("Bad file name or number");
    case rt::DeviceIOError: return QStringLiteral("Device I/O error");
    case rt::DiskFull: return QStringLiteral("Disk full");
    case rt::PermissionDenied: return QStringLiteral("Permission denied");
    case rt::FileAccessError: return QStringLiteral("Path/File access error");
    case rt::PathNotFound: return QStringLiteral("Path not found");
    case rt::ObjectNotSet: return QStringLiteral("Object variable or With block variable not set");
    default: return QString();
    }
}

void Raise(int number, const QString &description)
{
    throw RuntimeError{number, description};
}

void Raise(int number)
{
    throw RuntimeError{number, StandardDescription(number)};
}

QString Hex(qint64 number)
{
    const auto bits = static_cast<quint32>(static_cast<qint32>(number));
    return QString::number(bits, 16).toUpper();
}

QString ErrorSpeaker(int number)
{
    return QStringLiteral("** Error 0x") + Hex(number);
}

void ReportError(MsgSink &sink, const QString &piece, const RuntimeError &error)
{
    sink.AddComplaint(ErrorSpeaker(error.number), piece + error.description + CRLF);
}
