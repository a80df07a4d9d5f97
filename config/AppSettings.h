#pragma once

#include <QMargins>
#include <QString>

class PrinterCatalog;
class TMvRegIni;

// Orientation codes of reports.
enum : quint8
{
    OrientByWidth = 0,
    OrientPortrait = 1,
    OrientLandscape = 2,
    OrientPerTitle = 255, // asked once per report title and remembered
};

// The application settings, one field per value of the registry section "Settings".
//
// A default-constructed record holds the zero state (empty texts, false, 0): that is what the
// fields that were not read keep when LoadSettings stops at a value it cannot read. The defaults
// live in LoadSettings.
struct TAppSettings
{
    QString Directories; // spool directories separated by ";"
    QString Printer;     // empty: none
    QString Font;        // face name of the report font
    bool Erase = false;  // delete printed reports instead of archiving them
    bool Iconize = false;
    bool Autorun = false;
    bool RunPaused = false;
    bool PrintByOne = false;
    bool ShowHints = false;
    int MaxPortrait = 0; // widest report printed portrait, in characters
    bool HighPriority = false;
    bool ProxyServer = false;
    QString ProxyAddr;
    QString ProxyPort;
    bool VerCheck = false;
    int LastVerCheck = 0; // days since 30 December 1899 of the last successful check
    quint8 Indent = 0;    // 0 none, 1 indented, 2 alternately, 3 centred
    QMargins Borders;     // millimetres: BorderLeft, BorderTop, BorderRight, BorderBottom
    bool SystemFont = false;
    bool WndTaskbar = false; // reserved, always false after loading
    quint8 Orientation = 0;  // OrientByWidth, OrientPortrait, OrientLandscape or OrientPerTitle
    int HintHidePause = 0;   // milliseconds a tooltip stays visible; never written

    bool operator==(const TAppSettings&) const = default;

    // Fills the record from the registry with every default and limit. `printers` validates
    // Printer: a name that is not installed becomes the default printer's (or empty when none is
    // installed), and the printer found becomes the current one. Returns false when a value
    // could not be read; that value and all after it then keep the zero state.
    bool LoadSettings(PrinterCatalog& printers);
    // Writes the record in one save of the registry file: all values or, on failure, none. False
    // on failure.
    bool SaveSettings() const;

    // Writes LastVerCheck alone; failures are ignored.
    void StoreLastVerCheck() const;
};

// The program directory's "Lst" subdirectory when it exists, else the root directory.
QString DefaultDirectories();

// The autostart command line: the program path in double quotes, a blank, and "/min" when the
// program starts hidden in the tray.
QString AutostartCommandLine(const QString& programPath, bool iconize);
