#pragma once

#include "core/report/ReportFile.h"
#include "core/report/ReportHeader.h"

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
    // Runs finish().
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // Performs the job; every failure ends in the controller's workerError.
    void run();

    // Layout (all lengths in device units).
    void decideOrientation();
    // Decides the orientation, begins the document and fits the grid; false when the document
    // cannot be begun.
    bool computeLayout(QString& error);
    void pageStart();
    // Line rendering.
    void printLine(const QByteArray& line);
    void drawSegment();

    const ReportHeader& header() const { return m_header; }
    // The printer (or the print server) has the whole document: from now on the report must not
    // be printed again on its own, even when it cannot be disposed of.
    bool printed() const { return m_printed; }
    // Body lines handed to the printer so far.
    int linesDone() const { return m_linesDone; }
    // The vertical position of the next line on the page.
    int posY() const { return m_posY; }

    // What the user answered to the print error dialog.
    ErrorChoice choice() const { return m_choice; }
    void setChoice(ErrorChoice choice) { m_choice = choice; }
    // Off for printing a copy (the command line): the report file stays where it is.
    void setDisposeWhenDone(bool dispose) { m_disposeWhenDone = dispose; }

    // The page grid the report is laid out on (all lengths in device units).
    struct PageLayout
    {
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
        int columns = 0;
        int rows = 0;
    };
    const PageLayout& layout() const { return m_layout; }

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
    bool fromSpool() const { return m_disposeWhenDone && !m_fromQueue; }

    ReportHeader m_header;
    PrintContext m_ctx;
    ReportFile m_file;
    PageLayout m_layout;
    bool m_started = false;
    bool m_printed = false;
    int m_linesDone = 0;
    int m_linesOnPage = 0;
    QByteArray m_pending; // the part of the line not drawn yet
    QByteArray m_text;    // what of it is drawn as text
    int m_posX = 0;
    int m_posY = 0;
    ErrorChoice m_choice = ErrorChoice::None;
    bool m_disposeWhenDone = true;
    // Set by the job itself when it abandons its document; decides that the report stays.
    bool m_terminated = false;
    bool m_finished = false;
    bool m_fromQueue = false;
    QString m_archived; // where the printed report went; empty when deleted or left in place
};

// The placement spaces of a line: none, indented, indented on odd pages only, or centred.
QByteArray placementText(int indent, int pageNumber, const QByteArray& indentText,
                         const QByteArray& centerText);
