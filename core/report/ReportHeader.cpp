#include "core/report/ReportHeader.h"

#include "core/platform/FileInfo.h"
#include "core/platform/SharedRead.h"
#include "core/report/CodePages.h"

#include <QVarLengthArray>

#include <cstring>
#include <deque>
#include <limits>

namespace {

// Characters 1 to 32 separate and surround header fields.
bool isBlank(char c)
{
    return c >= 1 && c <= 32;
}

QByteArrayView stripBlanks(QByteArrayView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && quint8(s[begin]) <= 32)
        ++begin;
    while (end > begin && quint8(s[end - 1]) <= 32)
        --end;
    return s.sliced(begin, end - begin);
}

// A whole text as a decimal integer (optional sign, digits, nothing else), as the period check
// needs it.
std::optional<int> strictInteger(QByteArrayView s)
{
    bool ok = false;
    const int v = QByteArray(s.data(), s.size()).toInt(&ok, 10);
    if (!ok || s.isEmpty() || isBlank(s.front()) || isBlank(s.back()))
        return std::nullopt;
    return v;
}

// The number in characters [from, from + count) of `text`, missing characters counting as none.
int numberAt(QByteArrayView text, qsizetype from, qsizetype count)
{
    if (from >= text.size())
        return 0;
    return readHeaderInteger(text.sliced(from, std::min(count, text.size() - from)));
}

const QByteArray kPeriodLabel = QByteArrayLiteral("Obdob\xED:"); // "Období:" in Windows-1250

// The payroll period "MM/YYYY" written after the label "Období:" in the fourth line of a report
// of the older layout; empty when it cannot be read.
QByteArray periodFromLine(QByteArrayView line)
{
    const qsizetype label = line.indexOf(kPeriodLabel);
    if (label < 0)
        return {};
    const QByteArrayView after = line.sliced(label + kPeriodLabel.size());
    const QByteArrayView window = after.first(std::min<qsizetype>(12, after.size()));
    qsizetype digit = -1;
    for (qsizetype i = 0; i + 1 < window.size(); ++i) {
        if (window[i] >= '0' && window[i] <= '9') {
            digit = i;
            break;
        }
    }
    if (digit < 0)
        return {};
    QByteArrayView text = window.sliced(digit).first(std::min<qsizetype>(7, window.size() - digit));
    if (const qsizetype space = text.indexOf(' '); space >= 0)
        text = text.first(space);
    if (text.size() < 3 || text[2] != '/')
        return {};
    const std::optional<int> month = strictInteger(text.first(2));
    const std::optional<int> year = strictInteger(text.sliced(3));
    if (!month || *month < 1 || *month > 12 || !year)
        return {};
    int fullYear = *year;
    if (fullYear >= 0 && fullYear <= 99)
        fullYear += fullYear >= 90 ? 1900 : 2000;
    else if (fullYear < 1990 || fullYear > 2199)
        return {};
    return QByteArray::number(*month).rightJustified(2, '0') + '/' +
           QByteArray::number(fullYear).rightJustified(4, '0');
}

} // namespace

QString ReportDateTime::toIsoString() const
{
    if (!hasDate())
        return {};
    return date.toString(Qt::ISODate) + u'T' + time.toString(QStringLiteral("HH:mm:ss.zzz"));
}

std::strong_ordering ReportDateTime::operator<=>(const ReportDateTime& other) const
{
    // A missing date counts as the earliest day, as a zero date would.
    const qint64 day = hasDate() ? date.toJulianDay() : std::numeric_limits<qint64>::min();
    const qint64 otherDay =
        other.hasDate() ? other.date.toJulianDay() : std::numeric_limits<qint64>::min();
    if (day != otherDay)
        return day <=> otherDay;
    return time.msecsSinceStartOfDay() <=> other.time.msecsSinceStartOfDay();
}

namespace {

// Fields of a header line: views into the line, except quoted fields with doubled quotes, which
// are unescaped into `escaped` (a deque, so that the views into it stay put).
using FieldViews = QVarLengthArray<QByteArrayView, 16>;

void splitFields(QByteArrayView line, FieldViews& fields, std::deque<QByteArray>& escaped)
{
    // The text of a header ends at a NUL byte, like the rest of a report.
    if (const qsizetype nul = line.indexOf('\0'); nul >= 0)
        line = line.first(nul);
    const qsizetype n = line.size();
    qsizetype p = 0;
    while (p < n && isBlank(line[p]))
        ++p;
    while (p < n) {
        if (line[p] == '"') {
            const qsizetype start = ++p;
            bool doubled = false;
            while (p < n) {
                if (line[p] == '"') {
                    if (p + 1 < n && line[p + 1] == '"') {
                        doubled = true;
                        p += 2;
                        continue;
                    }
                    break;
                }
                ++p;
            }
            QByteArrayView field = line.sliced(start, p - start);
            if (doubled) {
                escaped.push_back(field.toByteArray().replace("\"\"", "\""));
                field = escaped.back();
            }
            fields.append(field);
            if (p < n)
                ++p; // the closing quote
        } else {
            const qsizetype start = p;
            while (p < n && line[p] != ';' && !isBlank(line[p]))
                ++p;
            fields.append(line.sliced(start, p - start));
        }
        while (p < n && isBlank(line[p]))
            ++p;
        if (p < n && line[p] == ';') {
            if (p + 1 == n)
                fields.append(QByteArrayView());
            ++p;
            while (p < n && isBlank(line[p]))
                ++p;
        }
    }
}

} // namespace

QList<QByteArray> splitHeaderFields(QByteArrayView line)
{
    FieldViews views;
    std::deque<QByteArray> escaped;
    splitFields(line, views, escaped);
    QList<QByteArray> fields;
    fields.reserve(views.size());
    for (const QByteArrayView v : views)
        fields << v.toByteArray();
    return fields;
}

qint32 readHeaderInteger(QByteArrayView field)
{
    qsizetype p = 0;
    while (p < field.size() && field[p] == ' ')
        ++p;
    bool negative = false;
    if (p < field.size() && (field[p] == '-' || field[p] == '+'))
        negative = field[p++] == '-';
    qint64 value = 0;
    for (; p < field.size() && field[p] >= '0' && field[p] <= '9'; ++p) {
        const qint64 next = value * 10 + (field[p] - '0');
        // A digit that would leave the 32-bit range does not fit either.
        if (next > qint64(std::numeric_limits<qint32>::max()) + (negative ? 1 : 0))
            break;
        value = next;
    }
    return qint32(negative ? -value : value);
}

ReportLineSplitter::ReportLineSplitter(int maxLines, qsizetype maxLength)
    : m_maxLines(maxLines), m_maxLength(maxLength)
{}

void ReportLineSplitter::feed(QByteArrayView data)
{
    qsizetype i = 0;
    while (i < data.size() && !full()) {
        if (m_afterCr) {
            m_afterCr = false;
            if (data[i] == '\n') {
                ++i;
                continue;
            }
        }
        // Take the run up to the next line end in one piece.
        qsizetype end = i;
        while (end < data.size() && data[end] != '\r' && data[end] != '\n')
            ++end;
        if (end > i) {
            const qsizetype room = m_maxLength - m_line.size();
            if (room > 0)
                m_line.append(data.sliced(i, std::min(room, end - i)));
            m_inLine = true;
        }
        if (end == data.size())
            return;
        m_afterCr = data[end] == '\r';
        m_lines << m_line;
        m_line.clear();
        m_inLine = false;
        i = end + 1;
    }
}

void ReportLineSplitter::finish()
{
    if (m_inLine && !full())
        m_lines << m_line;
    m_line.clear();
    m_inLine = false;
}

ReportHeader::ReportHeader(QString fileName) : fileName(std::move(fileName))
{}

bool ReportHeader::parseHeader(const QList<QByteArray>& lines, QString& message)
{
    message.clear();
    fileSize = -1;
    if (const std::optional<platform::FoundFile> found = platform::findFile(fileName)) {
        fileSize = qint32(std::min<qint64>(found->size, std::numeric_limits<qint32>::max()));
        fileTime = found->dosTime;
    }
    return parseFields(lines.size(), lines.value(0), lines.value(3), message);
}

bool ReportHeader::parseFields(qsizetype lineCount, QByteArrayView first, QByteArrayView fourth,
                               QString& message)
{
    message = QStringLiteral("Obecná chyba formátu");
    if (lineCount == 0)
        return false;
    FieldViews fields;
    std::deque<QByteArray> escaped;
    splitFields(first, fields, escaped);
    if (fields.size() < 10 || fields.front() != QByteArrayView(kHeaderMark)) {
        message = QStringLiteral("Nečitelná hlavička sestavy");
        return false;
    }
    // Fields 0 to 10 are required. A header of exactly ten fields passes the count above but
    // lacks the scale: a format error.
    if (fields.size() < 11)
        return false;

    version = readHeaderInteger(fields[1]);

    dateText = stripBlanks(fields[2]).toByteArray();
    const int y = numberAt(dateText, 0, 4);
    const int m = numberAt(dateText, 4, 2);
    const int d = numberAt(dateText, 6, 2);
    year = quint16(y);
    month = quint16(m);
    created = ReportDateTime{};
    if (y >= 1 && y <= 9999 && QDate::isValid(y, m, d))
        created.date = QDate(y, m, d);

    timeText = stripBlanks(fields[3]).toByteArray();
    const int hours = numberAt(timeText, 0, 2);
    const int minutes = numberAt(timeText, 2, 2);
    const int seconds = numberAt(timeText, 4, 2);
    const int hundredths = numberAt(timeText, 6, 2);
    if (hours >= 0 && hours <= 23 && minutes >= 0 && minutes <= 59 && seconds >= 0 &&
        seconds <= 59 && hundredths >= 0 && hundredths <= 99)
        created.time = QTime(hours, minutes, seconds, hundredths * 10);

    width = readHeaderInteger(fields[5]);
    pages = readHeaderInteger(fields[6]);
    linesPerPage = readHeaderInteger(fields[7]);
    codePage = readHeaderInteger(fields[9]);
    scale = readHeaderInteger(fields[10]);
    frames = fields.size() >= 12 && fields[11] == QByteArrayView("1");

    period.clear();
    if (version >= 1) {
        if (fields.size() >= 13)
            period = fields[12].toByteArray();
        else if (lineCount >= 4)
            period = periodFromLine(fourth);
    }

    // Stripped after the conversion: some code pages turn control bytes into visible characters.
    title = convertReportText(fields[4], codePage);
    const QByteArrayView kept = stripBlanks(title);
    title.truncate(kept.data() - title.constData() + kept.size());
    title.remove(0, kept.data() - title.constData());
    if (!validate(message))
        return false;
    message.clear(); // a header that passes carries no message
    return true;
}

bool ReportHeader::validate(QString& message) const
{
    if (linesPerPage < 10 || linesPerPage > 120) {
        message = QStringLiteral("Počet řádků na stránku sestavy je mimo povolený rozsah");
        return false;
    }
    if (version > kMaxVersion) {
        message = QStringLiteral("Verze souboru je novější než %1").arg(kMaxVersion);
        return false;
    }
    if (width < 0 || width > 255) {
        message = QStringLiteral("Šířka sestavy je mimo povolený rozsah");
        return false;
    }
    if (pages < 0 || pages > 9999) {
        message = QStringLiteral("Počet stran sestavy je mimo povolený rozsah");
        return false;
    }
    if (codePage != CodePage852 && codePage != CodePageIso88592 && codePage != CodePageKamenicky &&
        codePage != CodePage1250) {
        message = QStringLiteral("Kódová stránka má nepovolenou hodnotu");
        return false;
    }
    if (scale < 20 || scale > 100) {
        message = QStringLiteral("Měřítko sestavy je mimo povolený rozsah");
        return false;
    }
    return true;
}

namespace {

constexpr int kHeaderLines = 5;

// The first lines of a report, read with as little copying as possible: when the first read
// holds all of them, they are views into its buffer; otherwise the splitter collects them.
class HeaderLines
{
public:
    bool read(platform::SharedReadFile& file)
    {
        qint64 n = file.read(m_buffer, sizeof m_buffer);
        if (n < 0)
            return false;
        bool ended = endsAtNul(n);
        if (scan(QByteArrayView(m_buffer, n)))
            return true;
        m_splitter.feed(QByteArrayView(m_buffer, n));
        while (n > 0 && !ended && !m_splitter.full()) {
            qint64 more = file.read(m_buffer, sizeof m_buffer);
            if (more < 0)
                return false;
            if (more == 0)
                break;
            ended = endsAtNul(more);
            m_splitter.feed(QByteArrayView(m_buffer, more));
        }
        m_splitter.finish();
        m_count = m_splitter.lines().size();
        for (qsizetype i = 0; i < m_count; ++i)
            m_lines[i] = m_splitter.lines().at(i);
        return true;
    }
    qsizetype count() const { return m_count; }
    QByteArrayView line(qsizetype i) const { return i < m_count ? m_lines[i] : QByteArrayView(); }

private:
    // A NUL byte ends the report, as it does for printing (ReportFile): cuts the `n` bytes read
    // there and tells whether it did.
    bool endsAtNul(qint64& n) const
    {
        const void* nul = std::memchr(m_buffer, 0, size_t(n));
        if (!nul)
            return false;
        n = static_cast<const char*>(nul) - m_buffer;
        return true;
    }
    // True when `data` holds all the lines, each ended by CR, LF or CR LF.
    bool scan(QByteArrayView data)
    {
        qsizetype start = 0;
        m_count = 0;
        for (qsizetype i = 0; i < data.size() && m_count < kHeaderLines; ++i) {
            if (data[i] != '\r' && data[i] != '\n')
                continue;
            m_lines[m_count++] = data.sliced(start, i - start);
            if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
        return m_count == kHeaderLines;
    }

    char m_buffer[4096];
    QByteArrayView m_lines[kHeaderLines];
    qsizetype m_count = 0;
    ReportLineSplitter m_splitter{kHeaderLines, ReportHeader::kMaxHeaderLineLength};
};

} // namespace

bool ReportHeader::loadHeader(QString& message)
{
    message = QStringLiteral("Obecná chyba formátu");
    platform::SharedReadFile file;
    if (file.open(fileName) != platform::SharedReadFile::Result::Opened)
        return false;
    HeaderLines lines;
    if (!lines.read(file))
        return false;
    const struct stat& st = file.status();
    file.close();
    // The open file is the one the directory search would find.
    fileSize = qint32(std::min<qint64>(st.st_size, std::numeric_limits<qint32>::max()));
    fileTime = platform::dosDateTimeFromUnix(st.st_mtim.tv_sec);
    return parseFields(lines.count(), lines.line(0), lines.line(3), message);
}
