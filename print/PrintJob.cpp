#include "print/PrintJob.h"

#include "core/jobs/QueueStatus.h"

#include "core/archive/Archive.h"
#include "core/config/AppSettings.h"
#include "core/jobs/JobState.h"
#include "core/log/EventLog.h"
#include "core/platform/FileName.h"
#include "core/platform/PrinterCatalog.h"
#include "core/report/CodePages.h"
#include "core/report/OrientationMemory.h"
#include "print/CupsClient.h"
#include "print/JobHost.h"
#include "print/PrintJournal.h"
#include "print/PrinterDevice.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The frame shapes and their strokes; each shape in a single-line and a double-line form.
enum class Shape
{
    Vertical,
    BranchLeft,
    DownLeft,
    UpRight,
    BranchUp,
    BranchDown,
    BranchRight,
    Horizontal,
    Cross,
    UpLeft,
    DownRight,
};

struct FrameChar
{
    bool isFrame = false;
    bool isDouble = false;
    Shape shape = Shape::Vertical;
};

constexpr std::array<FrameChar, 256> makeFrameTable()
{
    std::array<FrameChar, 256> t{};
    auto set = [&t](unsigned single, unsigned dbl, Shape shape) {
        t[single] = FrameChar{true, false, shape};
        t[dbl] = FrameChar{true, true, shape};
    };
    set(0xFE, 0x81, Shape::Vertical);
    set(0xB9, 0x83, Shape::BranchLeft);
    set(0xBF, 0x88, Shape::DownLeft);
    set(0xBA, 0x90, Shape::UpRight);
    set(0xE3, 0x98, Shape::BranchUp);
    set(0xC7, 0xA2, Shape::BranchDown);
    set(0xC3, 0xA5, Shape::BranchRight);
    set(0xCA, 0xAA, Shape::Horizontal);
    set(0xD0, 0xAF, Shape::Cross);
    set(0xD1, 0xB2, Shape::UpLeft);
    set(0xDE, 0xEA, Shape::DownRight);
    return t;
}

constexpr std::array<FrameChar, 256> kFrames = makeFrameTable();

void drawShape(PrinterDevice& p, Shape shape, int left, int right, int top, int bottom, int cx,
               int mid)
{
    switch (shape) {
    case Shape::Vertical:
        p.polyline({{cx, top}, {cx, bottom}});
        break;
    case Shape::Horizontal:
        p.polyline({{left, mid}, {right, mid}});
        break;
    case Shape::Cross:
        p.polyline({{left, mid}, {right, mid}});
        p.polyline({{cx, top}, {cx, bottom}});
        break;
    case Shape::BranchLeft:
        p.polyline({{cx, top}, {cx, bottom}});
        p.polyline({{cx, mid}, {left, mid}});
        break;
    case Shape::BranchRight:
        p.polyline({{cx, top}, {cx, bottom}});
        p.polyline({{cx, mid}, {right, mid}});
        break;
    case Shape::BranchUp:
        p.polyline({{left, mid}, {right, mid}});
        p.polyline({{cx, mid}, {cx, top}});
        break;
    case Shape::BranchDown:
        p.polyline({{left, mid}, {right, mid}});
        p.polyline({{cx, mid}, {cx, bottom}});
        break;
    case Shape::DownLeft:
        p.polyline({{left, mid}, {cx, mid}, {cx, bottom}});
        break;
    case Shape::UpRight:
        p.polyline({{cx, top}, {cx, mid}, {right, mid}});
        break;
    case Shape::UpLeft:
        p.polyline({{left, mid}, {cx, mid}, {cx, top}});
        break;
    case Shape::DownRight:
        p.polyline({{cx, bottom}, {cx, mid}, {right, mid}});
        break;
    }
}

// Whole device units from millimetres; halves go to the even neighbour.
int mmToUnits(int mm, int dpi)
{
    return int(std::nearbyint(mm * double(dpi) / 25.4));
}

// a div b, truncating toward zero, and one less whenever the division leaves a remainder.
int floorishDiv(int a, int b)
{
    const int q = a / b;
    return a % b != 0 ? q - 1 : q;
}

const QByteArray kTallText = QByteArrayLiteral("\xD9y"); // "Ůy": full height of a text line

} // namespace

void JobHost::logEvent(const QString& title, const QString& description)
{
    appLog().addEntry(title, description);
}

QByteArray placementText(int indent, int pageNumber, const QByteArray& indentText,
                         const QByteArray& centerText)
{
    switch (indent) {
    case 1:
        return indentText;
    case 2:
        return pageNumber % 2 == 1 ? indentText : QByteArray();
    case 3:
        return centerText;
    default:
        return {};
    }
}

PrintJob::PrintJob(const QString& fileName, PrintContext context)
    : m_header(fileName), m_ctx(context)
{}

PrintJob::~PrintJob()
{
    finish();
}

void PrintJob::decideOrientation()
{
    int o = m_ctx.settings.orientation;
    if (o == OrientPerTitle) {
        o = m_ctx.orientations.lookup(m_header);
        if (o == OrientPerTitle) {
            o = m_ctx.host.askOrientation(m_header);
            // A question abandoned because the job was stopped (or the program ends) has no
            // answer to remember.
            if (m_ctx.state.stopRequested())
                m_ctx.orientations.forget(m_header);
            else
                m_ctx.orientations.store(m_header, quint8(o));
        }
    }
    if (o == OrientPortrait)
        m_layout.landscape = false;
    else if (o == OrientLandscape)
        m_layout.landscape = true;
    else
        m_layout.landscape = m_header.width > m_ctx.settings.maxPortrait;
}

bool PrintJob::computeLayout(QString& error)
{
    PrinterDevice& printer = m_ctx.printer;
    const AppSettings& s = m_ctx.settings;
    decideOrientation();
    m_layout.columns = m_header.width * 100 / m_header.scale;
    m_layout.rows = m_header.linesPerPage * 100 / m_header.scale;
    printer.setTitle(cp1250ToUnicode(m_header.title));
    printer.setLandscape(m_layout.landscape);
    if (!printer.beginDoc(error))
        return false;

    auto select = [&](int size) {
        m_layout.fontSize = size;
        printer.setFont(s.font, size, false, false, false);
    };
    auto measureCharWidth = [&] {
        return std::max(1, printer.textExtent("M").width());
    };
    m_layout.dpiX = printer.dpiX();
    m_layout.dpiY = printer.dpiY();
    m_layout.marginTop = mmToUnits(s.borders.top(), m_layout.dpiY);
    m_layout.marginBottom = mmToUnits(s.borders.bottom(), m_layout.dpiY);
    m_layout.marginLeft = mmToUnits(s.borders.left(), m_layout.dpiX);
    m_layout.marginRight = mmToUnits(s.borders.right(), m_layout.dpiX);
    m_layout.areaWidth = printer.pageWidth() - m_layout.marginLeft - m_layout.marginRight;
    m_layout.areaHeight = printer.pageHeight() - m_layout.marginTop - m_layout.marginBottom;

    // The largest size up to 16 points at which the columns fit across...
    int size = 16;
    int w = 0;
    for (; size >= 1; --size) {
        select(size);
        w = measureCharWidth();
        if (m_layout.areaWidth / w >= m_layout.columns)
            break;
    }
    size = std::max(size, 1);
    // ... and the rows down, never below 2 points.
    if (size >= 2) {
        for (;; --size) {
            select(size);
            w = measureCharWidth();
            const int h = printer.textExtent(kTallText).height();
            if (m_layout.areaHeight - m_layout.rows * h >= 0 || size == 2)
                break;
        }
    }
    m_layout.charWidth = w;
    const int spare = m_layout.areaWidth / m_layout.charWidth - m_layout.columns;
    m_layout.indentText = spare > 0 ? QByteArray(spare, ' ') : QByteArray();
    m_layout.centerText = spare / 2 > 0 ? QByteArray(spare / 2, ' ') : QByteArray();

    const int h = printer.textExtent(kTallText).height();
    m_layout.leading = floorishDiv(m_layout.areaHeight - m_layout.rows * h, m_layout.rows);
    m_layout.lineHeight = h + m_layout.leading;
    return true;
}

void PrintJob::pageStart()
{
    m_posY = std::max(0, m_layout.marginTop +
                             (m_layout.areaHeight - m_layout.rows * m_layout.lineHeight) / 2);
}

void PrintJob::printLine(const QByteArray& line)
{
    PrinterDevice& printer = m_ctx.printer;
    const QByteArray text = convertReportText(line, m_header.codePage);
    m_pending = placementText(m_ctx.settings.indent, printer.pageNumber(), m_layout.indentText,
                              m_layout.centerText);
    m_posX = m_layout.marginLeft;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        // A caret starts a style sequence when two characters follow it; the text up to it is
        // taken in one piece.
        qsizetype next = text.indexOf('^', i);
        if (next < 0 || next + 2 >= n)
            next = n;
        m_pending.append(text.constData() + i, next - i);
        if (next == n)
            break;
        if (!m_pending.isEmpty() && !printer.aborted()) {
            drawSegment();
            m_posX += m_layout.charWidth * int(m_pending.size());
            m_pending.clear();
        }
        const bool on = text[next + 2] == '1';
        const char kind = text[next + 1];
        printer.setFontStyle(on && kind == 'B', on && kind == 'I', on && kind == 'U');
        i = next + 3;
    }
    if (!m_pending.isEmpty() && !printer.aborted())
        drawSegment();
    printer.setFontStyle(false, false, false);
    m_posY += m_layout.lineHeight;
}

void PrintJob::drawSegment()
{
    PrinterDevice& printer = m_ctx.printer;
    if (!m_header.frames) {
        printer.textOut(m_posX, m_posY, m_pending);
        return;
    }
    // The text with blanks where frame pieces are drawn instead.
    const qsizetype n = m_pending.size();
    const char* pending = m_pending.constData();
    qsizetype firstFrame = 0;
    while (firstFrame < n && !kFrames[quint8(pending[firstFrame])].isFrame)
        ++firstFrame;
    if (firstFrame == n) {
        printer.textOut(m_posX, m_posY, m_pending);
        return;
    }
    m_text.resize(n);
    char* text = m_text.data();
    std::copy(pending, pending + n, text);
    for (qsizetype i = firstFrame; i < n; ++i) {
        if (kFrames[quint8(text[i])].isFrame)
            text[i] = ' ';
    }
    printer.textOut(m_posX, m_posY, m_text);
    const int top = m_posY;
    const int bottom = m_posY + m_layout.lineHeight;
    const int mid = m_posY + m_layout.lineHeight / 2;
    int penWidth = -1;
    for (qsizetype k = firstFrame; k < n; ++k) {
        const FrameChar f = kFrames[quint8(pending[k])];
        if (!f.isFrame)
            continue;
        const int width = f.isDouble ? m_layout.fontSize : m_layout.fontSize / 2 + 1;
        if (width != penWidth) {
            printer.setPenWidth(width);
            penWidth = width;
        }
        const int left = m_posX + int(k) * m_layout.charWidth;
        const int right = left + m_layout.charWidth;
        drawShape(printer, f.shape, left, right, top, bottom, left + m_layout.charWidth / 2, mid);
    }
}

bool PrintJob::stopped()
{
    if (m_ctx.state.stopRequested() && !m_terminated) {
        m_ctx.printer.abortDoc();
        m_terminated = true;
    }
    return m_terminated;
}

bool PrintJob::printBody(QString& error)
{
    PrinterDevice& printer = m_ctx.printer;
    JobState& state = m_ctx.state;
    pageStart();
    QByteArray line;
    const int total = int(m_file.lineCount());
    while (m_file.nextBodyLine(line, error)) {
        if (stopped())
            return true;
        if (line.startsWith("^PG") || m_linesOnPage >= m_header.linesPerPage) {
            m_linesOnPage = 0;
            if (line.startsWith("^PG"))
                line.remove(0, 3);
            if (!printer.aborted()) {
                bool ok = true;
                ok = printer.newPage(error);
                if (!ok)
                    return false;
                pageStart();
                state.setPageNumber(printer.pageNumber());
            }
        }
        printLine(line);
        ++m_linesDone;
        ++m_linesOnPage;
        state.setProgress(m_linesDone, total);
        m_ctx.host.refreshStatus();
    }
    return error.isEmpty();
}

bool PrintJob::endDocument(QString& error)
{
    PrinterDevice& printer = m_ctx.printer;
    const bool journalled = m_ctx.journal && fromSpool();
    if (journalled) {
        m_ctx.journal->record(JournalEntry{m_header.fileName, m_file.identity(),
                                           printer.printerName(), cp1250ToUnicode(m_header.title),
                                           QDateTime::currentSecsSinceEpoch(), 0});
    }
    if (!printer.endDoc(error))
        return false; // the entry stays: the document may have reached the server all the same
    m_printed = true;
    if (journalled && printer.jobId() > 0)
        m_ctx.journal->setJobId(m_header.fileName, printer.jobId());
    return true;
}

bool PrintJob::print(QString& error)
{
    PrinterDevice& printer = m_ctx.printer;
    if (!printer.selectPrinter(m_ctx.settings.printer)) {
        error = printer.selectionError();
        if (error.isEmpty())
            error = QStringLiteral("Není nainstalována žádná tiskárna.");
        return false;
    }
    bool ok = computeLayout(error) && printBody(error);
    // Every begun document is either ended or aborted, also when the stop came after the last
    // line.
    if (printer.printing()) {
        if (m_ctx.state.stopRequested()) {
            m_terminated = true;
            printer.abortDoc();
        } else {
            QString endError;
            if (!endDocument(endError) && ok) {
                error = endError;
                ok = false;
            }
        }
    }
    return ok;
}

void PrintJob::run()
{
    JobState& state = m_ctx.state;
    QString error;
    if (!m_file.open(m_header.fileName, error)) {
        state.setWorkerError(QStringLiteral("Nelze otevřít soubor sestavy %1,\rchyba \"%2\"")
                                 .arg(m_header.fileName, error));
        return;
    }
    if (!m_header.parseHeader(m_file.headLines(), error)) {
        state.setWorkerError(
            QStringLiteral("Chybný formát souboru %1\r(%2)").arg(m_header.fileName, error));
        return;
    }
    m_fromQueue = state.inReprintQueue(m_header.fileName);
    // The file name first: setting it clears the page number.
    state.setCurrentFile(platform::displayFileName(QFileInfo(m_header.fileName).fileName()));
    state.setPageNumber(1);
    state.setPageCount(m_header.pages);
    state.setReportTitle(m_header.title);
    m_started = true;
    m_ctx.host.refreshStatus();
    auto fail = [&](const QString& why) {
        state.setWorkerError(
            QStringLiteral("Chyba \"%1\" v průběhu tisku souboru %2").arg(why, m_header.fileName));
    };
    // Without a printer the report would be printed nowhere and then disposed of: it waits.
    if (m_ctx.settings.printer.isEmpty()) {
        fail(QStringLiteral("Není vybrána žádná tiskárna."));
        return;
    }
    // A copy of the program that ended after handing this very report to the print server.
    if (m_ctx.journal && fromSpool()) {
        switch (checkPriorPrint(*m_ctx.journal, m_header.fileName, m_file.identity(),
                                &state.stopFlag())) {
        case PriorPrint::Printed:
            m_printed = true;
            m_ctx.host.logEvent(QStringLiteral("Sestava již vytištěna"), m_header.fileName);
            return;
        case PriorPrint::Unknown:
            fail(PrinterCatalog::noAnswerText());
            return;
        case PriorPrint::None:
            break;
        }
    }
    if (!print(error)) {
        // A request to the print server that the stop broke off is no error: the job was
        // abandoned, as the user asked.
        if (m_ctx.state.stopRequested())
            m_terminated = true;
        else
            fail(error);
    }
}

void PrintJob::dispose()
{
    const platform::FileIdentity identity = m_file.identity();
    const DisposeResult result = disposeReport(m_header, m_ctx.settings.erase, &identity);
    switch (result.outcome) {
    case DisposeResult::Disposed:
        if (!m_ctx.settings.erase)
            m_archived = QDir(archiveDirectory(m_header.fileName)).filePath(archivedName(m_header));
        break;
    case DisposeResult::Gone:
        break;
    case DisposeResult::Replaced:
        // The payroll program wrote a new report under the same name meanwhile: it prints next.
        m_ctx.host.logEvent(QStringLiteral("Sestava nahrazena během tisku"), m_header.fileName);
        break;
    case DisposeResult::Refused:
    case DisposeResult::Failed: {
        const QString text =
            (m_ctx.settings.erase ? QStringLiteral("Sestavu %1 se nepodařilo odstranit: %2")
                                  : QStringLiteral("Sestavu %1 se nepodařilo archivovat: %2"))
                .arg(m_header.fileName, result.outcome == DisposeResult::Refused
                                            ? result.reason
                                            : fileErrorText(result.error));
        m_ctx.host.logEvent(QStringLiteral("Sestavu nelze odstranit ze složky"), text);
        m_ctx.state.setWorkerError(text);
        // The dialog keeps the printed report from being printed again while it is unchanged;
        // the journal entry stays, so a later start does not print it again either.
        m_choice = ErrorChoice::None;
        m_ctx.host.showPrintError(*this);
        const bool gone = m_choice == ErrorChoice::Deleted ||
                          (m_choice == ErrorChoice::Retry &&
                           disposeReport(m_header, m_ctx.settings.erase, &identity).outcome !=
                               DisposeResult::Failed);
        if (!gone)
            return;
        break;
    }
    }
    if (m_ctx.journal)
        m_ctx.journal->remove(m_header.fileName);
}

void PrintJob::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    JobState& state = m_ctx.state;
    const bool failed = !state.workerError().isEmpty();
    if (failed) {
        // Noted before it is shown: the dialog may wait long for an answer, and an unattended
        // program's log is where the failure is looked for.
        m_ctx.host.logEvent(QStringLiteral("Chyba tisku"), state.workerError());
        m_ctx.host.showPrintError(*this);
    }
    if (m_choice != ErrorChoice::Retry) {
        const bool fromQueue = state.removeFromReprintQueue(m_header.fileName);
        // Only a report whose document was printed whole leaves its spool directory: one that
        // failed or was stopped stays, whatever the user answered, until it prints or the user
        // deletes it.
        if (!fromQueue && m_disposeWhenDone && m_started && m_printed && !m_terminated && !failed)
            dispose();
    }
    // A document the print server took is followed until it is on paper (or is not).
    if (m_printed && !failed && m_ctx.printer.jobId() > 0)
        m_ctx.host.jobSubmitted(SubmittedJob{m_ctx.printer.jobId(), m_ctx.printer.printerName(),
                                             QFileInfo(m_header.fileName).fileName(),
                                             cp1250ToUnicode(m_header.title),
                                             m_fromQueue ? m_header.fileName : m_archived});
    state.setCurrentFile(QString());
    state.setProgress(0, 0);
    m_ctx.host.refreshStatus();
    m_started = false;
}
