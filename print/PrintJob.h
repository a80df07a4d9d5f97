#pragma once

#include "report/ReportFile.h"
#include "report/ReportHeader.h"

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
class PrintJob
{
public:
    PrintJob(const QString& fileName, PrintContext context);
    // Runs Finish.
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // Performs the job; every failure ends in the controller's workerError.
    void run();

    // Layout (all lengths in device units).
    void decideOrientation();
    // Decides the orientation, begins the document and fits the grid; false when the document
    // cannot be begun.
    bool layout(QString& error);
    void pageStart();
    // Line rendering.
    void printLine(const QByteArray& line);
    void drawSegment();

    ReportHeader header;
    bool started = false;
    // The printer (or the print server) has the whole document: from now on the report must not
    // be printed again on its own, even when it cannot be disposed of.
    bool printed = false;
    int linesDone = 0;
    int linesOnPage = 0;
    QByteArray pending;
    ErrorChoice choice = ErrorChoice::None;
    // Off for printing a copy (the command line): the report file stays where it is.
    bool disposeWhenDone = true;

    bool landscape = false;
    int dpiX = 0;
    int dpiY = 0;
    int marginLeft = 0;
    int marginTop = 0;
    int marginRight = 0;
    int marginBottom = 0;
    int areaWidth = 0;
    int areaHeight = 0;
    int charWidth = 0;
    int leading = 0;
    int lineHeight = 0;
    int fontSize = 0; // points
    QByteArray indentText;
    QByteArray centerText;
    int posX = 0;
    int posY = 0;
    int columns = 0;
    int rows = 0;

    // The file's lines, the header included (for progress).
    qsizetype lineCount() const { return m_file.lineCount(); }

private:
    bool print(QString& error);
    bool printBody(QString& error);
    void finish();
    // True when the job was stopped: the document is aborted (once) and the job ends.
    bool stopped();
    // Ends the document and hands it over, noting it in the journal on the way.
    bool endDocument(QString& error);
    // Takes the printed report out of its spool directory; a failure is shown once.
    void dispose();
    // The report is a spool directory's (not a copy, not from the re-print queue): it is noted
    // in the journal and disposed of after printing.
    bool fromSpool() const { return disposeWhenDone && !m_fromQueue; }

    PrintContext m_ctx;
    ReportFile m_file;
    // Set by the job itself when it abandons its document; decides that the report stays.
    bool m_terminated = false;
    bool m_finished = false;
    bool m_fromQueue = false;
};

// The placement spaces of a line: none, indented, indented on odd pages only, or centred.
QByteArray placementText(int indent, int pageNumber, const QByteArray& indentText,
                         const QByteArray& centerText);
