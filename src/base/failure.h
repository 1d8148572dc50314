// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The program's failure model.
//
// Operations that cannot complete raise a RuntimeError: a number and a
// description (13 "Type mismatch", 6 "Overflow", the socket's 100xx numbers,
// the program's own 666 ...).  Every procedure that reports failures catches
// its own, writes one line through the MsgSink it was given and returns
// normally; Guard gives that behaviour in one place, so a procedure only names
// its piece (" in frmMain.CheckPort; ").

#include <QString>

#include <exception>
#include <functional>
#include <new>

#include "msgsink.h"

struct RuntimeError
{
    int number = 0;
    QString description;
};

// Run-time error numbers of the conversions and statements.
namespace rt {
inline constexpr int InvalidCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int OutOfMemory = 7;
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int TypeMismatch = 13;
inline constexpr int BadFileName = 52;
inline constexpr int DeviceIOError = 57;
inline constexpr int DiskFull = 61;
inline constexpr int PermissionDenied = 70;
inline constexpr int FileAccessError = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int ObjectNotSet = 91;
inline constexpr int ProgramError = 666;     // the program's own failures at start-up
inline constexpr int ServerFileError = 1638; // 0x666: failures of the server list file
} // namespace rt

// The standard description of a run-time error number ("Overflow" for 6 ...);
// an empty text for numbers that have none.
QString StandardDescription(int number);

[[noreturn]] void Raise(int number, const QString &description);
// Raises with the standard description of the number.
[[noreturn]] void Raise(int number);

// Upper-case hexadecimal without leading zeros; a negative number is written
// as its 32-bit two's complement (-1 -> "FFFFFFFF").
QString Hex(qint64 number);

// "** Error 0x" + Hex(number)
QString ErrorSpeaker(int number);

// Writes the common error line: Speaker "** Error 0x"+number, Sentence
// piece + description + CR LF.
void ReportError(MsgSink &sink, const QString &piece, const RuntimeError &error);

// Runs body; a failure inside it ends it and goes to onFailure instead of the
// caller.  Answers true when body ran to its end.  Standard library failures
// are mapped onto run-time errors so nothing escapes.
template<typename Body, typename OnFailure>
bool TryRun(Body &&body, OnFailure &&onFailure) noexcept
{
    RuntimeError failure;
    try {
        body();
        return true;
    } catch (const RuntimeError &e) {
        failure = e;
    } catch (const std::bad_alloc &) {
        failure = {rt::OutOfMemory, StandardDescription(rt::OutOfMemory)};
    } catch (const std::exception &e) {
        failure = {rt::InvalidCall, QString::fromLocal8Bit(e.what())};
    } catch (...) {
        failure = {rt::InvalidCall, StandardDescription(rt::InvalidCall)};
    }
    try {
        onFailure(failure);
    } catch (...) {
        // A report that fails itself is dropped: the procedure still returns.
    }
    return false;
}

// The common form: a failure writes the common error line with piece.
template<typename Body>
bool Guard(MsgSink &sink, const QString &piece, Body &&body) noexcept
{
    return TryRun(std::forward<Body>(body),
                  [&](const RuntimeError &e) { ReportError(sink, piece, e); });
}
