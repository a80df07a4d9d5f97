#pragma once

#include "report/ReportFile.h"
#include "report/UnitLstObj.h"

#include <QByteArray>
#include <QString>

class JobHost;
class JobState;
class PrintJournal;
class PrinterDevice;
class OrientationMemory;
struct AppSettings;

// The user's answer in the print error dialog of a job.
enum class ErrorChoice
{
    None,
    Retry,
    Skip,
    Deleted,
    Cancel
};

// Everything a print job works with besides its report.
struct PrintContext
{
    const AppSettings& settings;
    OrientationMemory& orientations;
    JobState& state;
    PrinterDevice& printer;
    JobHost& host;
    // Where reports on their way to a print server are noted, so that a copy of the program that
    // was killed meanwhile does not print them twice; none for copies that are not disposed of.
    const PrintJournal* journal = nullptr;
};

// One print job: one report file from disk to the printer, then into the archive.
class TPrnObj
{
public:
    TPrnObj(const QString& fileName, PrintContext context);
    // Runs Finish.
    ~TPrnObj();
    TPrnObj(const TPrnObj&) = delete;
    TPrnObj& operator=(const TPrnObj&) = delete;

    // Performs the job; every failure ends in the controller's WorkerError.
    void Run();

    // Layout (all lengths in device units).
    void DecideOrientation();
    // Decides the orientation, begins the document and fits the grid; false when the document
    // cannot be begun.
    bool Layout(QString& error);
    void PageStart();
    // Line rendering.
    void PrintLine(const QByteArray& line);
    void DrawSegment();

    ReportHeader Lst;
    bool Started = false;
    // The printer (or the print server) has the whole document: from now on the report must not
    // be printed again on its own, even when it cannot be disposed of.
    bool Printed = false;
    int LinesDone = 0;
    int LinesOnPage = 0;
    QByteArray Pending;
    ErrorChoice Choice = ErrorChoice::None;
    // Off for printing a copy (the command line): the report file stays where it is.
    bool DisposeWhenDone = true;

    bool Landscape = false;
    int DpiX = 0;
    int DpiY = 0;
    int MarginLeft = 0;
    int MarginTop = 0;
    int MarginRight = 0;
    int MarginBottom = 0;
    int AreaWidth = 0;
    int AreaHeight = 0;
    int CharWidth = 0;
    int Leading = 0;
    int LineHeight = 0;
    int FontSize = 0; // points
    QByteArray IndentText;
    QByteArray CenterText;
    int PosX = 0;
    int PosY = 0;
    int Columns = 0;
    int Rows = 0;

    // The file's lines, the header included (for progress).
    qsizetype LineCount() const { return m_file.lineCount(); }

private:
    bool Print(QString& error);
    bool PrintBody(QString& error);
    void Finish();
    // True when the job was stopped: the document is aborted (once) and the job ends.
    bool stopped();
    // Ends the document and hands it over, noting it in the journal on the way.
    bool endDocument(QString& error);
    // Takes the printed report out of its spool directory; a failure is shown once.
    void dispose();
    // The report is a spool directory's (not a copy, not from the re-print queue): it is noted
    // in the journal and disposed of after printing.
    bool fromSpool() const { return DisposeWhenDone && !m_fromQueue; }

    PrintContext m_ctx;
    ReportFile m_file;
    // Set by the job itself when it abandons its document; decides that the report stays.
    bool m_terminated = false;
    bool m_finished = false;
    bool m_fromQueue = false;
};

// The placement spaces of a line: none, indented, indented on odd pages only, or centred.
QByteArray PlacementText(int indent, int pageNumber, const QByteArray& indentText,
                         const QByteArray& centerText);
