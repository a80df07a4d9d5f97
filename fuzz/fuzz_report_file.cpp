// Any bytes as a report file in a spool directory, taken the whole way the printer takes it: read
// by ReportFile, its header parsed, every body line rendered by a print job (page marks, style
// sequences, frame characters, code pages) into a printer that keeps nothing.
//
// Besides "no crash, no hang", two properties are checked:
// - the header the printer reads (parseHeader on ReportFile's head lines) is the header
//   `tarnyx-cli header` and the report list read (loadHeader): same answer, same message, same
//   fields;
// - a job that reports no error has printed every body line the file holds.
#include "core/config/AppSettings.h"
#include "core/jobs/JobState.h"
#include "core/report/OrientationMemory.h"
#include "core/report/ReportFile.h"
#include "core/report/ReportHeader.h"
#include "print/JobHost.h"
#include "print/PrintJob.h"
#include "print/PrinterDevice.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A printer of A4 at 600 dpi whose characters are size * 5 units wide and size * 10 high.
class NullPrinter : public PrinterDevice
{
public:
    bool selectPrinter(const QString&) override { return true; }
    QString printerName() const override { return QStringLiteral("null"); }
    void setLandscape(bool landscape) override { m_landscape = landscape; }
    void setTitle(const QString&) override {}
    bool beginDoc(QString&) override
    {
        m_printing = true;
        m_aborted = false;
        m_page = 1;
        return true;
    }
    bool newPage(QString&) override
    {
        ++m_page;
        return true;
    }
    bool endDoc(QString&) override
    {
        m_printing = false;
        return true;
    }
    void abortDoc() override
    {
        m_printing = false;
        m_aborted = true;
    }
    bool aborted() const override { return m_aborted; }
    bool printing() const override { return m_printing; }
    int pageNumber() const override { return m_page; }
    int dpiX() const override { return 600; }
    int dpiY() const override { return 600; }
    int pageWidth() const override { return m_landscape ? 7016 : 4960; }
    int pageHeight() const override { return m_landscape ? 4960 : 7016; }
    void setFont(const QString&, int sizePoints, bool, bool, bool) override { m_size = sizePoints; }
    int fontSize() const override { return m_size; }
    void setFontStyle(bool, bool, bool) override {}
    QSize textExtent(QByteArrayView text) override
    {
        return QSize(int(text.size()) * m_size * 5, m_size * 10);
    }
    void textOut(int, int, QByteArrayView) override {}
    void setPenWidth(int) override {}
    void polyline(std::initializer_list<QPoint>) override {}

private:
    bool m_landscape = false;
    bool m_printing = false;
    bool m_aborted = false;
    int m_page = 0;
    int m_size = 0;
};

// Orientation by width, and "Cancel" to every error; nothing goes to the event log.
class NullHost : public JobHost
{
public:
    int askOrientation(const ReportHeader&) override { return 0; }
    void showPrintError(PrintJob& job) override { job.setChoice(ErrorChoice::Cancel); }
    void logEvent(const QString&, const QString&) override {}
};

// One scratch directory for the whole run; the report file is removed after every input, and the
// directory when the process ends.
char g_dir[] = "/tmp/fuzz_report_file.XXXXXX";
QByteArray g_path;

void removeScratch()
{
    ::unlink(g_path.constData());
    ::rmdir(g_dir);
}

const QByteArray& scratchPath()
{
    if (g_path.isEmpty()) {
        if (!::mkdtemp(g_dir)) {
            std::perror("mkdtemp");
            std::abort();
        }
        g_path = QByteArray(g_dir) + "/LST00001.PRN";
        std::atexit(removeScratch);
    }
    return g_path;
}

// Writes the report and dates it an hour back, so that the reader never takes it for a file
// still being written, also where the file system has no leases.
bool writeReport(const QByteArray& path, const unsigned char* data, size_t size)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    struct timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 3600;
    times[1] = times[0];
    const bool ok = done == size && ::futimens(fd, times) == 0;
    return ::close(fd) == 0 && ok;
}

bool sameHeader(const ReportHeader& a, const ReportHeader& b)
{
    return a.fileSize == b.fileSize && a.fileTime == b.fileTime && a.version == b.version &&
           a.dateText == b.dateText && a.timeText == b.timeText && a.created == b.created &&
           a.year == b.year && a.month == b.month && a.title == b.title && a.width == b.width &&
           a.pages == b.pages && a.linesPerPage == b.linesPerPage && a.codePage == b.codePage &&
           a.scale == b.scale && a.frames == b.frames && a.period == b.period;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const QByteArray& path = scratchPath();
    if (!writeReport(path, data, size)) {
        std::perror("writing the report");
        std::abort();
    }
    const QString fileName = QFile::decodeName(path);

    // The header as the printer reads it, and the body lines it will print.
    ReportHeader printed(fileName);
    QString printedMessage;
    bool printedOk = false;
    qsizetype bodyLines = 0;
    {
        ReportFile file;
        QString error;
        if (!file.open(fileName, error)) {
            std::fprintf(stderr, "ReportFile::open: %s\n", qPrintable(error));
            std::abort();
        }
        printedOk = printed.parseHeader(file.headLines(), printedMessage);
        QByteArray line;
        while (file.nextBodyLine(line, error))
            ++bodyLines;
        if (!error.isEmpty() || bodyLines != std::max<qsizetype>(0, file.lineCount() - 1))
            __builtin_trap();
    }

    // The header as the command line and the report list read it.
    ReportHeader listed(fileName);
    QString listedMessage;
    const bool listedOk = listed.loadHeader(listedMessage);
    if (listedOk != printedOk || listedMessage != printedMessage ||
        (listedOk && !sameHeader(listed, printed)))
        __builtin_trap();

    if (printedOk) {
        AppSettings settings;
        settings.printer = QStringLiteral("null");
        OrientationMemory orientations;
        JobState state;
        NullPrinter printer;
        NullHost host;
        PrintJob job(fileName, PrintContext{settings, orientations, state, printer, host});
        job.setDisposeWhenDone(false);
        job.run();
        if (state.workerError().isEmpty() && job.linesDone() != bodyLines)
            __builtin_trap();
    }

    if (::unlink(path.constData()) != 0) {
        std::perror("removing the report");
        std::abort();
    }
    return 0;
}
