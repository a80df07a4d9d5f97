#include "browser/ReportText.h"

#include "report/CodePages.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr char kSeparator[] = "^PG";

// Box-drawing bytes of report text: the line drawn on screen and the character that stands in
// for it in plain text (0xAD is the soft hyphen of Windows-1250).
struct FramePiece
{
    unsigned char byte;
    char16_t line;
    char plain;
};
constexpr FramePiece kFramePieces[] = {
    {0xFE, u'│', '|'},    {0xB9, u'┤', '|'},    {0xC3, u'├', '|'},    {0x81, u'║', '|'},
    {0x83, u'╣', '|'},    {0xA5, u'╠', '|'},    {0xCA, u'─', '\xAD'}, {0xC7, u'┬', '\xAD'},
    {0xE3, u'┴', '\xAD'}, {0xAA, u'═', '\xAD'}, {0xA2, u'╦', '\xAD'}, {0x98, u'╩', '\xAD'},
    {0xBF, u'┐', '+'},    {0xBA, u'└', '+'},    {0xD0, u'┼', '+'},    {0xD1, u'┘', '+'},
    {0xDE, u'┌', '+'},    {0x88, u'╗', '+'},    {0x90, u'╚', '+'},    {0xAF, u'╬', '+'},
    {0xB2, u'╝', '+'},    {0xEA, u'╔', '+'},
};

struct FrameTables
{
    std::array<char16_t, 256> line{};
    std::array<char, 256> plain{};
    FrameTables()
    {
        for (int b = 0; b < 256; ++b)
            plain[size_t(b)] = char(b);
        for (const FramePiece& p : kFramePieces) {
            line[p.byte] = p.line;
            plain[p.byte] = p.plain;
        }
    }
};
const FrameTables& frameTables()
{
    static const FrameTables tables;
    return tables;
}

// Upper case of every Windows-1250 byte by the locale's rules, where it is a byte again.
const std::array<char, 256>& upperBytes()
{
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (int b = 0; b < 256; ++b) {
            t[size_t(b)] = char(b);
            const QString upper = QString(cp1250ToUnicode(char(b))).toUpper();
            const QByteArray back = unicodeToCp1250(upper);
            if (back.size() == 1 && cp1250ToUnicode(back[0]) == upper.front())
                t[size_t(b)] = back[0];
        }
        return t;
    }();
    return table;
}

// The row's first bytes without control sequences; a caret among the last two bytes goes with
// whatever follows it.
QByteArray withoutControls(QByteArrayView row)
{
    row = row.first(std::min(row.size(), ReportText::kMaxRowBytes));
    QByteArray out;
    out.reserve(row.size());
    for (qsizetype i = 0; i < row.size(); ++i) {
        if (row[i] == '^') {
            i += 2;
            continue;
        }
        out += row[i];
    }
    return out;
}

// The end of the line that starts at `p`: the next CR or LF, or `end`.
const char* lineEnd(const char* p, const char* end)
{
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    const char* stop = lf ? lf : end;
    const auto* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(stop - p)));
    return cr ? cr : stop;
}

} // namespace

bool ReportText::load(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Sestavu %1 nelze otevřít: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("Sestavu %1 nelze přečíst: %2").arg(path, file.errorString());
        return false;
    }
    if (const void* nul = std::memchr(data.constData(), 0, size_t(data.size())))
        data.truncate(static_cast<const char*>(nul) - data.constData());

    // One pass over the bytes: where each line starts, the header line left out unless it is
    // the only one, and a separator row before every page break.
    std::vector<qint64> rows;
    rows.reserve(size_t(data.size() / 128 + 16));
    const char* base = data.constData();
    const char* end = base + data.size();
    qsizetype widest = 0;
    bool header = true;
    qint64 headerStart = -1;
    for (const char* p = base; p < end;) {
        const char* eol = lineEnd(p, end);
        if (header) {
            header = false;
            headerStart = p - base;
        } else {
            if (eol - p >= 3 && std::memcmp(p, kSeparator, 3) == 0)
                rows.push_back(-1);
            rows.push_back(p - base);
            widest = std::max<qsizetype>(widest, eol - p);
        }
        p = eol;
        if (p < end)
            p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
    }
    if (rows.empty() && headerStart >= 0) {
        rows.push_back(headerStart);
        widest = lineEnd(base, end) - base;
    }
    m_data = std::move(data);
    m_rows = std::move(rows);
    m_rows.shrink_to_fit();
    m_widest = std::min(widest, kMaxRowBytes);
    return true;
}

QByteArrayView ReportText::rowBytes(qsizetype row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const qint64 start = m_rows[size_t(row)];
    if (start < 0)
        return QByteArrayView(kSeparator, 3);
    const char* p = m_data.constData() + start;
    return QByteArrayView(p, lineEnd(p, m_data.constData() + m_data.size()));
}

QString ReportText::rowText(qsizetype row, bool frames) const
{
    const QByteArray bytes = withoutControls(rowBytes(row));
    const FrameTables& t = frameTables();
    if (!frames) {
        QByteArray plain(bytes.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            plain[i] = t.plain[uchar(bytes[i])];
        return cp1250ToUnicode(plain);
    }
    QString text = cp1250ToUnicode(bytes);
    for (qsizetype i = 0; i < bytes.size() && i < text.size(); ++i) {
        if (const char16_t line = t.line[uchar(bytes[i])])
            text[i] = QChar(line);
    }
    return text;
}

QByteArray ReportText::plainBytes(QByteArrayView row)
{
    QByteArray bytes = withoutControls(row);
    const FrameTables& t = frameTables();
    for (char& c : bytes)
        c = t.plain[uchar(c)];
    return bytes;
}

qsizetype ReportText::find(const QString& text, qsizetype from, int step) const
{
    if (text.isEmpty() || step == 0)
        return -1;
    // Text that Windows-1250 cannot hold is in no report.
    QByteArray needle = unicodeToCp1250(text);
    if (cp1250ToUnicode(needle) != text)
        return -1;
    const std::array<char, 256>& upper = upperBytes();
    for (char& c : needle)
        c = upper[uchar(c)];
    QByteArray folded;
    for (qsizetype row = from; row >= 0 && row < rowCount(); row += step) {
        const QByteArrayView bytes = rowBytes(row);
        if (bytes.size() < needle.size())
            continue;
        folded.resize(bytes.size());
        std::transform(bytes.begin(), bytes.end(), folded.begin(),
                       [&upper](char c) { return upper[uchar(c)]; });
        if (QByteArrayView(folded).contains(needle))
            return row;
    }
    return -1;
}

bool ReportText::saveAsText(const QString& path, QString& error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Soubor %1 nelze vytvořit: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray chunk;
    for (qsizetype row = 0; row < rowCount(); ++row) {
        if (isGreyRow(row))
            continue;
        chunk += plainBytes(rowBytes(row));
        chunk += "\r\n";
        if (chunk.size() >= 256 * 1024) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    if (!file.commit()) {
        error = QStringLiteral("Do souboru %1 nelze zapsat: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
