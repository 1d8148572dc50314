// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "textcodec.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

void appendEscape(QString &out, unsigned char byte)
{
    static const char digits[] = "0123456789ABCDEF";
    out += u'\\';
    out += u'x';
    out += QLatin1Char(digits[byte >> 4]);
    out += QLatin1Char(digits[byte & 0x0F]);
}

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the sequence a lead byte starts; 0 for a byte that cannot lead.
int sequenceLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// The second byte's narrower range after some lead bytes: no overlong forms,
// no encoded surrogates, nothing above U+10FFFF.
bool secondByteFits(unsigned char lead, unsigned char second)
{
    switch (lead) {
    case 0xE0: return second >= 0xA0 && second <= 0xBF;
    case 0xED: return second >= 0x80 && second <= 0x9F;
    case 0xF0: return second >= 0x90 && second <= 0xBF;
    case 0xF4: return second >= 0x80 && second <= 0x8F;
    default: return isContinuation(second);
    }
}

enum class Sequence { Valid, Invalid, Incomplete };

// Checks the sequence starting at bytes[i] with the given length.
Sequence checkSequence(QByteArrayView bytes, qsizetype i, int length)
{
    const auto lead = static_cast<unsigned char>(bytes[i]);
    for (int k = 1; k < length; ++k) {
        if (i + k >= bytes.size())
            return Sequence::Incomplete;
        const auto byte = static_cast<unsigned char>(bytes[i + k]);
        if (k == 1 ? !secondByteFits(lead, byte) : !isContinuation(byte))
            return Sequence::Invalid;
    }
    return Sequence::Valid;
}

// An ASCII byte that is shown as itself: visible ASCII other than the
// backslash (which is doubled), and TAB, LF and CR.
bool isPlainAscii(unsigned char byte)
{
    return (byte >= 0x20 && byte < 0x7F && byte != '\\') || byte == '\t' || byte == '\n'
           || byte == '\r';
}

// Where the run of plain ASCII that starts at `from` ends.  A received
// stream is mostly plain text and every byte goes through here, so sixteen
// bytes are tested at a time where the processor allows.
qsizetype plainAsciiEnd(QByteArrayView bytes, qsizetype from)
{
    const char *data = bytes.data();
    qsizetype end = from;
#ifdef __SSE2__
    const __m128i space = _mm_set1_epi8(0x20), del = _mm_set1_epi8(0x7F);
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    for (; end + 16 <= bytes.size(); end += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + end));
        // Signed: bytes of 0x80 and above are below 0x20 too.
        const __m128i below = _mm_cmplt_epi8(v, space);
        const __m128i kept = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, cr));
        // DEL and the backslash are visible but written as escapes too.
        const __m128i escaped = _mm_or_si128(_mm_cmpeq_epi8(v, del), _mm_cmpeq_epi8(v, backslash));
        const int stop = _mm_movemask_epi8(_mm_or_si128(_mm_andnot_si128(kept, below), escaped));
        if (stop)
            return end + __builtin_ctz(unsigned(stop));
    }
#endif
    while (end < bytes.size() && isPlainAscii(static_cast<unsigned char>(data[end])))
        ++end;
    return end;
}

} // namespace

DecodedText DecodeReceived(QByteArrayView bytes, bool final)
{
    DecodedText result;
    result.text.reserve(bytes.size());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            if (!isPlainAscii(byte)) {
                if (byte == '\\')
                    result.text += u"\\\\";
                else
                    appendEscape(result.text, byte);
                ++i;
                continue;
            }
            // Plain text comes in runs: append each run at once.
            const qsizetype end = plainAsciiEnd(bytes, i + 1);
            result.text += QLatin1StringView(bytes.data() + i, end - i);
            i = end;
            continue;
        }
        const int length = sequenceLength(byte);
        const Sequence check = length ? checkSequence(bytes, i, length) : Sequence::Invalid;
        if (check == Sequence::Incomplete && !final)
            break;
        if (check != Sequence::Valid) {
            appendEscape(result.text, byte);
            ++i;
            continue;
        }
        char32_t code = byte & (0x7F >> length);
        for (int k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
        if (code <= 0x9F) {
            // A C1 control character: shown as the bytes that carried it.
            for (int k = 0; k < length; ++k)
                appendEscape(result.text, static_cast<unsigned char>(bytes[i + k]));
        } else {
            const QChar pair[2] = {QChar::highSurrogate(code), QChar::lowSurrogate(code)};
            if (QChar::requiresSurrogates(code))
                result.text.append(pair, 2);
            else
                result.text += QChar(static_cast<char16_t>(code));
        }
        i += length;
    }
    result.consumed = i;
    return result;
}

qsizetype CompleteLength(QByteArrayView bytes)
{
    // Only the last three bytes can begin an incomplete sequence.
    const qsizetype from = qMax<qsizetype>(0, bytes.size() - 3);
    for (qsizetype i = bytes.size() - 1; i >= from; --i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (isContinuation(byte))
            continue;
        const int length = sequenceLength(byte);
        if (length && checkSequence(bytes, i, length) == Sequence::Incomplete)
            return i;
        break;
    }
    return bytes.size();
}

QString StreamText::take(const QByteArray &bytes)
{
    const QByteArray data = m_tail.isEmpty() ? bytes : m_tail + bytes;
    const DecodedText decoded
        = DecodeReceived(QByteArrayView(data).first(CompleteLength(data)), false);
    m_tail = data.mid(decoded.consumed);
    return decoded.text;
}

QString StreamText::flush()
{
    const QString text = DecodeReceived(m_tail, true).text;
    m_tail.clear();
    return text;
}

QByteArray EncodeForSending(const QString &text)
{
    return text.toUtf8();
}
