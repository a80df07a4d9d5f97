#pragma once

#include <QMargins>
#include <QString>
#include <QStringList>

#include <optional>

class PrinterCatalog;
class RegistryIni;

// Orientation codes of reports.
enum : quint8
{
    OrientByWidth = 0,
    OrientPortrait = 1,
    OrientLandscape = 2,
    OrientPerTitle = 255, // asked once per report title and remembered
};

// When AppSettings::load checks the stored printer against the installed queues.
enum class PrinterCheck
{
    AtLoad, // load asks the scheduler, and waits for it
    Later,  // the stored name stands, for checkedPrinterName on a thread of its own
};

// The application settings, one field per value of the registry section "Settings".
//
// A default-constructed record holds the zero state (empty texts, false, 0): that is what the
// fields that were not read keep when load stops at a value it cannot read. The defaults
// live in load.
struct AppSettings
{
    QString directories; // spool directories separated by ";"
    QString printer;     // empty: none
    QString font;        // face name of the report font
    bool erase = false;  // delete printed reports instead of archiving them
    bool iconize = false;
    bool autorun = false;
    bool runPaused = false;
    bool printByOne = false;
    bool showHints = false;
    int maxPortrait = 0; // widest report printed portrait, in characters
    bool highPriority = false;
    bool proxyServer = false;
    QString proxyAddr;
    QString proxyPort;
    bool verCheck = false;
    int lastVerCheck = 0; // days since 30 December 1899 of the last successful check
    quint8 indent = 0;    // 0 none, 1 indented, 2 alternately, 3 centred
    QMargins borders;     // millimetres: BorderLeft, BorderTop, BorderRight, BorderBottom
    bool systemFont = false;
    bool wndTaskbar = false; // reserved, always false after loading
    quint8 orientation = 0;  // OrientByWidth, OrientPortrait, OrientLandscape or OrientPerTitle
    int hintHidePause = 0;   // milliseconds a tooltip stays visible; never written

    bool operator==(const AppSettings&) const = default;

    // Fills the record from the registry with every default and limit. `printers` validates
    // Printer: a name that is not installed becomes the default printer's (or empty when none is
    // installed), and the printer found becomes the current one. With PrinterCheck::Later the
    // stored name becomes the current printer unchecked, as while the scheduler cannot be asked.
    // Returns false when a value could not be read; that value and all after it then keep the
    // zero state.
    bool load(PrinterCatalog& printers, PrinterCheck check = PrinterCheck::AtLoad);
    // Writes the record in one save of the registry file: all values or, on failure, none. False
    // on failure.
    bool save() const;

    // Sets lastVerCheck to `day` and writes it alone at once; failures are ignored.
    void storeLastVerCheck(int day);
};

// The printer a stored Printer value stands for, as load finds it: the installed spelling of
// `stored`, else the default printer (`stored` when there is none), or empty when nothing is
// installed. Nothing while the scheduler cannot be asked: the stored name then stands. Asks the
// scheduler and may take seconds; it touches nothing of `printers` but its questions.
std::optional<QString> checkedPrinterName(const QString& stored, const PrinterCatalog& printers);

// The program directory's "Lst" subdirectory when it exists, else the root directory.
QString defaultDirectories();
// The spool directories of a Directories value: its ";"-separated items, empty ones left out.
QStringList spoolDirectoryList(const QString& directories);

// The autostart command line: the program path in double quotes, a blank, and "/min" when the
// program starts hidden in the tray.
QString autostartCommandLine(const QString& programPath, bool iconize);
