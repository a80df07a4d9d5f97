#include "core/report/ReportFile.h"

#include "core/report/ReportHeader.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr qint64 kChunk = 64 * 1024;

QString changedText()
{
    return QStringLiteral("Soubor sestavy byl během tisku změněn.");
}

} // namespace

QString fileErrorText(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("Systém nemůže nalézt uvedený soubor.");
    case EACCES:
    case EPERM:
        return QStringLiteral("Přístup byl odepřen.");
    case EBUSY:
        return fileInUseText();
    case EISDIR:
        return QStringLiteral("Uvedená cesta je adresář, ne soubor.");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString fileInUseText()
{
    return QStringLiteral("Proces nemůže přistupovat k souboru, neboť jej používá jiný proces.");
}

bool ReportFile::open(const QString& path, QString& error)
{
    m_head.clear();
    m_lineCount = 0;
    m_linesRead = 0;
    m_buffer.clear();
    m_pos = 0;
    m_eof = false;
    switch (m_file.open(path)) {
    case platform::SharedReadFile::Result::Opened:
        break;
    case platform::SharedReadFile::Result::InUse:
        error = fileInUseText();
        return false;
    case platform::SharedReadFile::Result::Missing:
    case platform::SharedReadFile::Result::Failed:
        error = fileErrorText(m_file.error());
        return false;
    }

    // First pass: the head lines and the number of lines, up to a NUL byte.
    ReportLineSplitter head(kHeadLines, kMaxLineLength);
    QByteArray chunk(kChunk, Qt::Uninitialized);
    bool inLine = false;
    bool afterCr = false;
    for (;;) {
        const qint64 n = m_file.read(chunk.data(), kChunk);
        if (n < 0) {
            error = fileErrorText(errno);
            return false;
        }
        if (n == 0)
            break;
        QByteArrayView data(chunk.constData(), n);
        const qsizetype nul = data.indexOf('\0');
        if (nul >= 0)
            data = data.first(nul);
        if (!head.full())
            head.feed(data);
        // Line ends: CR, LF, or CR LF as one.
        for (const char *p = data.data(), *end = p + data.size(); p < end;) {
            if (afterCr) {
                afterCr = false;
                if (*p == '\n') {
                    ++p;
                    continue;
                }
            }
            const char* q = p;
            while (q < end && *q != '\r' && *q != '\n')
                ++q;
            inLine = inLine || q > p;
            if (q == end)
                break;
            ++m_lineCount;
            inLine = false;
            afterCr = *q == '\r';
            p = q + 1;
        }
        if (nul >= 0)
            break;
    }
    if (inLine)
        ++m_lineCount;
    head.finish();
    m_head = head.lines();

    // The body is read again from the start; a writer is no longer held up meanwhile.
    m_file.releaseLease();
    if (!m_file.rewind()) {
        error = fileErrorText(errno);
        return false;
    }
    return true;
}

bool ReportFile::fill(QString& error)
{
    if (m_eof)
        return false;
    if (m_file.changedSinceOpen()) {
        error = changedText();
        return false;
    }
    m_buffer.remove(0, m_pos);
    m_pos = 0;
    const qsizetype old = m_buffer.size();
    m_buffer.resize(old + kChunk);
    const qint64 n = m_file.read(m_buffer.data() + old, kChunk);
    if (n < 0) {
        m_buffer.resize(old);
        error = fileErrorText(errno);
        return false;
    }
    m_buffer.resize(old + n);
    if (n == 0) {
        m_eof = true;
        return false;
    }
    if (const qsizetype nul = m_buffer.indexOf('\0', old); nul >= 0) {
        m_buffer.truncate(nul);
        m_eof = true;
    }
    return true;
}

bool ReportFile::nextBodyLine(QByteArray& line, QString& error)
{
    error.clear();
    for (;;) {
        if (m_linesRead >= m_lineCount)
            return false;
        line.clear();
        bool ended = false;
        while (!ended) {
            const char* data = m_buffer.constData();
            const qsizetype size = m_buffer.size();
            qsizetype end = m_pos;
            while (end < size && data[end] != '\r' && data[end] != '\n')
                ++end;
            const qsizetype room = kMaxLineLength - line.size();
            if (room > 0)
                line.append(QByteArrayView(m_buffer).sliced(m_pos, std::min(room, end - m_pos)));
            if (end < m_buffer.size()) {
                // CR LF ends a line as one; make sure the LF after a CR is in the buffer.
                if (m_buffer[end] == '\r' && end + 1 == m_buffer.size()) {
                    m_pos = end;
                    if (!fill(error)) {
                        if (!error.isEmpty())
                            return false;
                        m_pos = m_buffer.size();
                        ended = true;
                        break;
                    }
                    end = m_pos;
                }
                m_pos = end + 1;
                if (m_buffer[end] == '\r' && m_pos < m_buffer.size() && m_buffer[m_pos] == '\n')
                    ++m_pos;
                ended = true;
            } else {
                m_pos = end;
                if (!fill(error)) {
                    if (!error.isEmpty())
                        return false;
                    ended = true; // the last line, without a line end
                }
            }
        }
        if (m_linesRead++ == 0)
            continue; // the header
        return true;
    }
}
