// The PDF writer's token writer: real numbers, hex digits and text strings in PDF syntax.
#include "print/PdfStreamPrivate.h"

#include <QChar>

#include <system_error>

namespace pdf {

Bytes& Bytes::real(double value, int decimals)
{
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc() || !std::isfinite(value)) {
        s += '0';
        return *this;
    }
    char* last = end;
    if (std::find(buffer, last, '.') != last) {
        while (last[-1] == '0')
            --last;
        if (last[-1] == '.')
            --last;
    }
    const std::string_view text(buffer, size_t(last - buffer));
    s.append(text == "-0" ? std::string_view("0") : text);
    return *this;
}

Bytes& Bytes::hex4(unsigned value)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    const char text[4] = {digits[(value >> 12) & 15], digits[(value >> 8) & 15],
                          digits[(value >> 4) & 15], digits[value & 15]};
    s.append(text, 4);
    return *this;
}

Bytes& Bytes::textString(const QString& text)
{
    raw("<FEFF");
    for (const QChar c : text)
        hex4(c.unicode());
    return raw(">");
}

} // namespace pdf
