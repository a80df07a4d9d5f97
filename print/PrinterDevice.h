#pragma once

#include <QByteArrayView>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

#include <initializer_list>

// "The printer" as a print job uses it: a document of pages in device units, a fixed-pitch font
// chosen by face, style and size, text measurement, opaque text output and lines. Text is given
// as Windows-1250 bytes. Coordinates are device units of the printable area, (0, 0) at its top
// left corner.
//
// Implementations: a CUPS queue, a PDF file, and a recording fake for tests. One document at a
// time; the calls may come from two threads, but never at the same time.
class PrinterDevice
{
public:
    virtual ~PrinterDevice() = default;

    // Selects the printer by name (letter case ignored); an unknown name selects the default
    // printer. False when no printer can be selected.
    virtual bool selectPrinter(const QString& name) = 0;
    // Why the last selectPrinter failed, when the device can tell.
    virtual QString selectionError() const { return {}; }
    virtual QString printerName() const = 0;

    virtual void setLandscape(bool landscape) = 0;
    virtual void setTitle(const QString& title) = 0;

    // Begins the document with its first page. False with `error` set when it cannot.
    virtual bool beginDoc(QString& error) = 0;
    virtual bool newPage(QString& error) = 0;
    // Ends the document and hands it to its destination.
    virtual bool endDoc(QString& error) = 0;
    // The print server's id of the job the last ended document became; 0 where there is none.
    virtual int jobId() const { return 0; }
    // Discards the document: nothing of it reaches the destination.
    virtual void abortDoc() = 0;
    virtual bool aborted() const = 0;
    virtual bool printing() const = 0;
    // 1 for the first page of the document.
    virtual int pageNumber() const = 0;

    // Units per inch, and the printable area of a page in the current orientation.
    virtual int dpiX() const = 0;
    virtual int dpiY() const = 0;
    virtual int pageWidth() const = 0;
    virtual int pageHeight() const = 0;

    // Selects a font: `sizePoints` asks for a character height of sizePoints * dpiY / 72 units.
    // Every character of the font advances by the same whole number of units.
    virtual void setFont(const QString& face, int sizePoints, bool bold, bool italic,
                         bool underline) = 0;
    virtual int fontSize() const = 0;
    virtual void setFontStyle(bool bold, bool italic, bool underline) = 0;
    // Width and height of `text` in the current font (height: the font's full line height).
    virtual QSize textExtent(QByteArrayView text) = 0;
    // Draws `text` with its cell's top left corner at (x, y), black on white.
    virtual void textOut(int x, int y, QByteArrayView text) = 0;

    virtual void setPenWidth(int width) = 0;
    // A black line through the points in order.
    virtual void polyline(std::initializer_list<QPoint> points) = 0;
};
