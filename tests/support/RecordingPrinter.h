#pragma once

#include "print/JobHost.h"
#include "print/PrintJob.h"
#include "print/PrinterDevice.h"

#include <QStringList>

#include <functional>

// A printer with fixed metrics that writes down what is done with it. At `size` points a
// character is size * 5 units wide and a line size * 10 units high, whatever the resolution.
class RecordingPrinter : public PrinterDevice
{
public:
    int resX = 600;
    int resY = 600;
    int width = 6000;
    int height = 8000;
    QStringList log; // "begin", "page", "end", "abort", "text X Y 'abc'", "style B", ...
    QStringList names{QStringLiteral("Queue")};
    std::function<void()> onText; // called after every textOut
    std::function<void()> onEnd;  // after the document has ended
    std::function<void()> onAbort;

    bool selectPrinter(const QString& name) override;
    QString printerName() const override { return m_name; }
    void setLandscape(bool landscape) override { m_landscape = landscape; }
    bool landscape() const { return m_landscape; }
    void setTitle(const QString& title) override { m_title = title; }
    QString title() const { return m_title; }
    bool beginDoc(QString& error) override;
    bool newPage(QString& error) override;
    bool endDoc(QString& error) override;
    void abortDoc() override;
    bool aborted() const override { return m_aborted; }
    bool printing() const override { return m_printing; }
    int pageNumber() const override { return m_page; }
    int dpiX() const override { return resX; }
    int dpiY() const override { return resY; }
    int pageWidth() const override { return width; }
    int pageHeight() const override { return height; }
    void setFont(const QString& face, int sizePoints, bool bold, bool italic,
                 bool underline) override;
    int fontSize() const override { return m_size; }
    void setFontStyle(bool bold, bool italic, bool underline) override;
    QSize textExtent(QByteArrayView text) override;
    void textOut(int x, int y, QByteArrayView text) override;
    void setPenWidth(int width) override;
    void polyline(std::initializer_list<QPoint> points) override;

    // The log entries that start with `prefix`.
    QStringList entries(const QString& prefix) const;

private:
    QString m_name;
    QString m_title;
    bool m_landscape = false;
    bool m_printing = false;
    bool m_aborted = false;
    int m_page = 0;
    int m_size = 0;
    QString m_style;
};

// Answers a job's questions as a test sets them up, and remembers what was asked.
class RecordingHost : public JobHost
{
public:
    int orientationAnswer = 0;
    int orientationQuestions = 0;
    ErrorChoice errorAnswer = ErrorChoice::Cancel;
    QStringList errors;
    JobState* state = nullptr;
    std::function<void()> onRefresh;

    int askOrientation(const ReportHeader& header) override;
    void showPrintError(PrintJob& job) override;
    void refreshStatus() override;
};
