#pragma once

#include <QPageSize>
#include <QString>
#include <QStringList>

#include <algorithm>

// The installed spelling of the printer `name` (letter case ignored; the last of several), or
// empty when no installed printer has that name.
inline QString findInstalledPrinter(const QStringList& installed, const QString& name)
{
    const auto it = std::find_if(installed.rbegin(), installed.rend(), [&name](const QString& q) {
        return q.compare(name, Qt::CaseInsensitive) == 0;
    });
    return it == installed.rend() ? QString() : *it;
}

// The printers installed on this machine and the one the program currently prints to.
// The real one asks the CUPS scheduler (print/CupsPrinterCatalog); tests use a list of their own.
class PrinterCatalog
{
public:
    virtual ~PrinterCatalog() = default;
    // False when the printing system cannot be asked now (its scheduler is down or not yet up):
    // an empty list then says nothing about which printers exist.
    virtual bool available() const { return true; }
    // "The print server does not answer": what a user is told when it cannot be asked, and the
    // text of a job that could not reach it.
    static QString noAnswerText() { return QStringLiteral("Tiskový server neodpovídá."); }
    virtual QStringList printerNames() const = 0;
    // Empty when no printer is installed or none is the default.
    virtual QString defaultPrinterName() const = 0;
    // The printer reports go to; empty for none.
    virtual QString currentPrinter() const = 0;
    virtual void setCurrentPrinter(const QString& name) = 0;

    // The paper the user chose for a printer in its setup dialog during this session; invalid
    // while the printer's own default applies.
    virtual QPageSize paperFor(const QString& /*printer*/) const { return {}; }
    virtual void setPaperFor(const QString& /*printer*/, const QPageSize& /*paper*/) {}
};
