#include "textcodec.h"

#include <cstring>

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

bool isVisibleAscii(unsigned char byte)
{
    return (byte >= 0x20 && byte != 0x7F) || byte == '\t' || byte == '\n' || byte == '\r';
}

// Where the run of visible ASCII that starts at `from` ends.  Eight bytes are
// tested at a time: a received stream is mostly plain text, and this is the
// loop every byte goes through.
qsizetype visibleAsciiEnd(QByteArrayView bytes, qsizetype from)
{
    constexpr quint64 ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    const char *data = bytes.data();
    const auto visible = [](char c) { return static_cast<unsigned char>(c) < 0x80 && isVisibleAscii(c); };
    qsizetype end = from;
    for (;;) {
        while (end + 8 <= bytes.size()) {
            quint64 word;
            std::memcpy(&word, data + end, sizeof word);
            const quint64 del = word ^ (0x7F * ones);
            // A byte of 0x80 or more, below 0x20 (TAB, CR and LF among them), or 0x7F.
            if ((word | ((word - 0x20 * ones) & ~word) | ((del - ones) & ~del)) & highs)
                break;
            end += 8;
        }
        // The next eight bytes one by one.
        const qsizetype stop = std::min(bytes.size(), end + 8);
        while (end < stop && visible(data[end]))
            ++end;
        if (end < stop || end == bytes.size())
            return end;
    }
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
            if (!isVisibleAscii(byte)) {
                appendEscape(result.text, byte);
                ++i;
                continue;
            }
            // Plain text comes in runs: append each run at once.
            const qsizetype end = visibleAsciiEnd(bytes, i + 1);
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

QByteArray EncodeForSending(const QString &text)
{
    return text.toUtf8();
}
