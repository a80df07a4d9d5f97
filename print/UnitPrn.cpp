#include "print/UnitPrn.h"

#include "config/AppSettings.h"
#include "core/JobState.h"
#include "core/TxLog.h"
#include "print/Archive.h"
#include "print/CupsClient.h"
#include "print/JobHost.h"
#include "print/PrintJournal.h"
#include "print/PrinterDevice.h"
#include "report/CodePages.h"
#include "report/UnitOrient.h"

#include <QDateTime>
#include <QFileInfo>
#include <QThread>

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
    AppLog().AddEntry(title, description);
}

QByteArray PlacementText(int indent, int pageNumber, const QByteArray& indentText,
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

TPrnObj::TPrnObj(const QString& fileName, PrintContext context) : Lst(fileName), m_ctx(context)
{}

TPrnObj::~TPrnObj()
{
    Finish();
}

void TPrnObj::DecideOrientation()
{
    int o = m_ctx.settings.orientation;
    if (o == OrientPerTitle) {
        o = m_ctx.orientations.lookup(Lst);
        if (o == OrientPerTitle) {
            o = m_ctx.host.askOrientation(Lst);
            // A question abandoned because the job was stopped (or the program ends) has no
            // answer to remember.
            if (m_ctx.state.StopRequest)
                m_ctx.orientations.forget(Lst);
            else
                m_ctx.orientations.store(Lst, quint8(o));
        }
    }
    if (o == OrientPortrait)
        Landscape = false;
    else if (o == OrientLandscape)
        Landscape = true;
    else
        Landscape = Lst.width > m_ctx.settings.maxPortrait;
}

bool TPrnObj::Layout(QString& error)
{
    PrinterDevice& printer = m_ctx.printer;
    const AppSettings& s = m_ctx.settings;
    DecideOrientation();
    Columns = Lst.width * 100 / Lst.scale;
    Rows = Lst.linesPerPage * 100 / Lst.scale;
    printer.setTitle(cp1250ToUnicode(Lst.title));
    printer.setLandscape(Landscape);
    if (!printer.beginDoc(error))
        return false;

    auto select = [&](int size) {
        FontSize = size;
        printer.setFont(s.font, size, false, false, false);
    };
    auto charWidth = [&] {
        return std::max(1, printer.textExtent("M").width());
    };
    DpiX = printer.dpiX();
    DpiY = printer.dpiY();
    MarginTop = mmToUnits(s.borders.top(), DpiY);
    MarginBottom = mmToUnits(s.borders.bottom(), DpiY);
    MarginLeft = mmToUnits(s.borders.left(), DpiX);
    MarginRight = mmToUnits(s.borders.right(), DpiX);
    AreaWidth = printer.pageWidth() - MarginLeft - MarginRight;
    AreaHeight = printer.pageHeight() - MarginTop - MarginBottom;

    // The largest size up to 16 points at which the columns fit across...
    int size = 16;
    int w = 0;
    for (; size >= 1; --size) {
        select(size);
        w = charWidth();
        if (AreaWidth / w >= Columns)
            break;
    }
    size = std::max(size, 1);
    // ... and the rows down, never below 2 points.
    if (size >= 2) {
        for (;; --size) {
            select(size);
            w = charWidth();
            const int h = printer.textExtent(kTallText).height();
            if (AreaHeight - Rows * h >= 0 || size == 2)
                break;
        }
    }
    CharWidth = w;
    const int spare = AreaWidth / CharWidth - Columns;
    IndentText = spare > 0 ? QByteArray(spare, ' ') : QByteArray();
    CenterText = spare / 2 > 0 ? QByteArray(spare / 2, ' ') : QByteArray();

    const int h = printer.textExtent(kTallText).height();
    Leading = floorishDiv(AreaHeight - Rows * h, Rows);
    LineHeight = h + Leading;
    return true;
}

void TPrnObj::PageStart()
{
    PosY = std::max(0, MarginTop + (AreaHeight - Rows * LineHeight) / 2);
}

void TPrnObj::PrintLine(const QByteArray& line)
{
    PrinterDevice& printer = m_ctx.printer;
    const QByteArray text = convertReportText(line, Lst.codePage);
    Pending = PlacementText(m_ctx.settings.indent, printer.pageNumber(), IndentText, CenterText);
    PosX = MarginLeft;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        if (text[i] == '^' && i + 2 < n) {
            if (!Pending.isEmpty() && !printer.aborted()) {
                DrawSegment();
                PosX += CharWidth * int(Pending.size());
                Pending.clear();
            }
            const bool on = text[i + 2] == '1';
            const char kind = text[i + 1];
            printer.setFontStyle(on && kind == 'B', on && kind == 'I', on && kind == 'U');
            i += 3;
            continue;
        }
        Pending += text[i++];
    }
    if (!Pending.isEmpty() && !printer.aborted())
        DrawSegment();
    printer.setFontStyle(false, false, false);
    PosY += LineHeight;
}

void TPrnObj::DrawSegment()
{
    PrinterDevice& printer = m_ctx.printer;
    if (!Lst.frames) {
        printer.textOut(PosX, PosY, Pending);
        return;
    }
    QByteArray text = Pending;
    QByteArray frames(text.size(), ' ');
    bool any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (kFrames[quint8(text[i])].isFrame) {
            frames[i] = text[i];
            text[i] = ' ';
            any = true;
        }
    }
    printer.textOut(PosX, PosY, text);
    if (!any)
        return;
    const int top = PosY;
    const int bottom = PosY + LineHeight;
    const int mid = PosY + LineHeight / 2;
    int penWidth = -1;
    for (qsizetype k = 0; k < frames.size(); ++k) {
        const FrameChar f = kFrames[quint8(frames[k])];
        if (!f.isFrame)
            continue;
        const int width = f.isDouble ? FontSize : FontSize / 2 + 1;
        if (width != penWidth) {
            printer.setPenWidth(width);
            penWidth = width;
        }
        const int left = PosX + int(k) * CharWidth;
        const int right = left + CharWidth;
        drawShape(printer, f.shape, left, right, top, bottom, left + CharWidth / 2, mid);
    }
}

bool TPrnObj::stopped()
{
    if (m_ctx.state.StopRequest && !m_terminated) {
        m_ctx.printer.abortDoc();
        m_terminated = true;
    }
    return m_terminated;
}

bool TPrnObj::PrintBody(QString& error)
{
    PrinterDevice& printer = m_ctx.printer;
    JobState& state = m_ctx.state;
    PageStart();
    QByteArray line;
    const int total = int(m_file.lineCount());
    while (m_file.nextBodyLine(line, error)) {
        if (stopped())
            return true;
        if (line.startsWith("^PG") || LinesOnPage >= Lst.linesPerPage) {
            LinesOnPage = 0;
            if (line.startsWith("^PG"))
                line.remove(0, 3);
            if (!printer.aborted()) {
                bool ok = true;
                ok = printer.newPage(error);
                if (!ok)
                    return false;
                PageStart();
                state.SetPageNumber(printer.pageNumber());
            }
        }
        PrintLine(line);
        ++LinesDone;
        ++LinesOnPage;
        state.SetProgress(LinesDone, total);
        m_ctx.host.refreshStatus();
    }
    return error.isEmpty();
}

bool TPrnObj::endDocument(QString& error)
{
    PrinterDevice& printer = m_ctx.printer;
    const bool journalled = m_ctx.journal && fromSpool();
    if (journalled) {
        m_ctx.journal->record(JournalEntry{Lst.fileName, m_file.identity(), printer.printerName(),
                                           cp1250ToUnicode(Lst.title),
                                           QDateTime::currentSecsSinceEpoch(), 0});
    }
    if (!printer.endDoc(error))
        return false; // the entry stays: the document may have reached the server all the same
    Printed = true;
    if (journalled && printer.jobId() > 0)
        m_ctx.journal->setJobId(Lst.fileName, printer.jobId());
    return true;
}

bool TPrnObj::Print(QString& error)
{
    PrinterDevice& printer = m_ctx.printer;
    if (!printer.selectPrinter(m_ctx.settings.printer)) {
        error = printer.selectionError();
        if (error.isEmpty())
            error = QStringLiteral("Není nainstalována žádná tiskárna.");
        return false;
    }
    bool ok = Layout(error) && PrintBody(error);
    // Every begun document is either ended or aborted, also when the stop came after the last
    // line.
    if (printer.printing()) {
        if (m_ctx.state.StopRequest) {
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

void TPrnObj::Run()
{
    JobState& state = m_ctx.state;
    QString error;
    if (!m_file.open(Lst.fileName, error)) {
        state.SetWorkerError(QStringLiteral("Nelze otevřít soubor sestavy %1,\rchyba \"%2\"")
                                 .arg(Lst.fileName, error));
        return;
    }
    if (!Lst.parseHeader(m_file.headLines(), error)) {
        state.SetWorkerError(
            QStringLiteral("Chybný formát souboru %1\r(%2)").arg(Lst.fileName, error));
        return;
    }
    m_fromQueue = state.InReprintQueue(Lst.fileName);
    // The file name first: setting it clears the page number.
    state.SetCurrentFile(QFileInfo(Lst.fileName).fileName());
    state.SetPageNumber(1);
    state.SetPageCount(Lst.pages);
    state.SetReportTitle(Lst.title);
    Started = true;
    m_ctx.host.refreshStatus();
    auto fail = [&](const QString& why) {
        state.SetWorkerError(
            QStringLiteral("Chyba \"%1\" v průběhu tisku souboru %2").arg(why, Lst.fileName));
    };
    // Without a printer the report would be printed nowhere and then disposed of: it waits.
    if (m_ctx.settings.printer.isEmpty()) {
        fail(QStringLiteral("Není vybrána žádná tiskárna."));
        return;
    }
    // A copy of the program that ended after handing this very report to the print server.
    if (m_ctx.journal && fromSpool()) {
        switch (CheckPriorPrint(*m_ctx.journal, Lst.fileName, m_file.identity())) {
        case PriorPrint::Printed:
            Printed = true;
            m_ctx.host.logEvent(QStringLiteral("Sestava již vytištěna"), Lst.fileName);
            return;
        case PriorPrint::Unknown:
            fail(cupsclient::noAnswerText());
            return;
        case PriorPrint::None:
            break;
        }
    }
    if (!Print(error)) {
        // A request to the print server that the stop broke off is no error: the job was
        // abandoned, as the user asked.
        if (m_ctx.state.StopRequest)
            m_terminated = true;
        else
            fail(error);
    }
}

void TPrnObj::dispose()
{
    const platform::FileIdentity printed = m_file.identity();
    const DisposeResult result = DisposeReport(Lst, m_ctx.settings.erase, &printed);
    switch (result.outcome) {
    case DisposeResult::Disposed:
    case DisposeResult::Gone:
        break;
    case DisposeResult::Replaced:
        // The payroll program wrote a new report under the same name meanwhile: it prints next.
        m_ctx.host.logEvent(QStringLiteral("Sestava nahrazena během tisku"), Lst.fileName);
        break;
    case DisposeResult::Failed: {
        const QString text =
            (m_ctx.settings.erase ? QStringLiteral("Sestavu %1 se nepodařilo odstranit: %2")
                                  : QStringLiteral("Sestavu %1 se nepodařilo archivovat: %2"))
                .arg(Lst.fileName, fileErrorText(result.error));
        m_ctx.host.logEvent(QStringLiteral("Sestavu nelze odstranit ze složky"), text);
        m_ctx.state.SetWorkerError(text);
        // The dialog keeps the printed report from being printed again while it is unchanged;
        // the journal entry stays, so a later start does not print it again either.
        Choice = ErrorChoice::None;
        m_ctx.host.showPrintError(*this);
        const bool gone =
            Choice == ErrorChoice::Deleted ||
            (Choice == ErrorChoice::Retry &&
             DisposeReport(Lst, m_ctx.settings.erase, &printed).outcome != DisposeResult::Failed);
        if (!gone)
            return;
        break;
    }
    }
    if (m_ctx.journal)
        m_ctx.journal->remove(Lst.fileName);
}

void TPrnObj::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    JobState& state = m_ctx.state;
    const bool failed = !state.WorkerError().isEmpty();
    if (failed)
        m_ctx.host.showPrintError(*this);
    if (Choice != ErrorChoice::Retry) {
        const bool fromQueue = state.RemoveFromReprintQueue(Lst.fileName);
        // Only a report whose document was printed whole leaves its spool directory: one that
        // failed or was stopped stays, whatever the user answered, until it prints or the user
        // deletes it.
        if (!fromQueue && DisposeWhenDone && Started && Printed && !m_terminated && !failed)
            dispose();
    }
    state.SetCurrentFile(QString());
    state.SetProgress(0, 0);
    m_ctx.host.refreshStatus();
    Started = false;
}
