// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The bytes a text typed into the send box stands for when escapes are on.
//
// Read as escapes, each giving one byte:
//   \xHH  the byte HH: exactly two hexadecimal digits, upper or lower case
//   \r \n \t  CR, LF and TAB
//   \0    the byte 0 (digits after it are characters of their own: "\012" is
//         the byte 0, then "12")
//   \\    a backslash
// Every other character goes out as its UTF-8 bytes, and a lone surrogate
// (no character at all) as those of U+FFFD, the replacement character.
//
// Refused, so that a typing error never sends bytes nobody meant:
//   "\x" followed by fewer than two hexadecimal digits ("\x4", "\xZZ"),
//   a backslash followed by anything else ("\q", "\X41", "\N"),
//   a lone backslash at the very end.
// A refusal gives no bytes, but the position of the backslash that begins
// the faulty escape (counting characters as typed, from 1; a character
// outside the Basic Multilingual Plane counts once) and a sentence saying
// what is wrong.
//
// The display of received bytes (textcodec.h) writes exactly these
// escapes, so it reads back into the very bytes received: for every byte
// string b, ReadEscapes(DecodeReceived(b, true).text).bytes == b.

#include <QByteArray>
#include <QString>
#include <QStringView>

struct EscapedBytes
{
    QByteArray bytes;       // what goes on the wire when error is empty
    qsizetype position = 0; // 1-based character position of the faulty backslash; 0 when none
    QString error;          // empty when the text was read whole
};

EscapedBytes ReadEscapes(QStringView text);
