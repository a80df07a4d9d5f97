#include "core/platform/FileName.h"

namespace platform {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // U+DC80 .. U+DCFF stand for the bytes 0x80 .. 0xFF

bool isEscape(char16_t c)
{
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

// The length of the valid UTF-8 sequence at `p` (at most `left` bytes), with its code point in
// `cp`; 0 when the bytes there are no valid sequence (overlong forms and surrogates included).
int validSequence(const uchar* p, qsizetype left, char32_t& cp)
{
    const uchar b = p[0];
    int n = 0;
    char32_t min = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        cp = b & 0x1F;
        min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        cp = b & 0x0F;
        min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        cp = b & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

void appendUtf8(QByteArray& out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | cp >> 18);
        out += char(0x80 | (cp >> 12 & 0x3F));
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

} // namespace

QByteArray encodeFileName(const QString& name)
{
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c < 0x80) {
            out += char(c);
        } else if (isEscape(c)) {
            out += char(c - kEscapeBase);
        } else if (QChar::isHighSurrogate(c) && i + 1 < name.size() &&
                   QChar::isLowSurrogate(name[i + 1].unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(c, name[i + 1].unicode()));
            ++i;
        } else if (QChar::isSurrogate(c)) {
            appendUtf8(out, 0xFFFD); // a broken pair is no name anybody wrote
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

QString decodeFileName(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        const uchar b = p[i];
        if (b < 0x80) {
            out += QChar(b);
            ++i;
            continue;
        }
        char32_t cp = 0;
        if (const int n = validSequence(p + i, size - i, cp)) {
            if (cp >= 0x10000) {
                out += QChar(QChar::highSurrogate(cp));
                out += QChar(QChar::lowSurrogate(cp));
            } else {
                out += QChar(char16_t(cp));
            }
            i += n;
        } else {
            out += QChar(char16_t(kEscapeBase + b));
            ++i;
        }
    }
    return out;
}

namespace {

// Where the escaped bytes are: lone low surrogates of the escape range, not the second half of a
// pair that stands for a character beyond U+FFFF.
template <typename F> void forEachEscape(QStringView name, F&& f)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() &&
            QChar::isLowSurrogate(name[i + 1].unicode()))
            ++i;
        else if (isEscape(c) && !f(i))
            return;
    }
}

} // namespace

bool hasUndecodableBytes(QStringView name)
{
    bool found = false;
    forEachEscape(name, [&found](qsizetype) { return !(found = true); });
    return found;
}

QString displayFileName(const QString& name)
{
    QString out = name;
    forEachEscape(name, [&out](qsizetype i) {
        out[i] = QChar(QChar::ReplacementCharacter);
        return true;
    });
    return out;
}

} // namespace platform
