#pragma once

#include "core/config/FontText.h"
#include "core/report/ReportText.h"
#include "gui/browser/FindTextDialog.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class JobState;
class QAction;
class QLabel;
class QListView;
class QMenu;
class QToolBar;
struct AppSettings;
struct ReportHeader;

// A window that shows one report file as text, one row per line, with its page breaks; it finds
// text, saves the report as a text file, puts it back into the print queue or deletes it.
class ReportViewer : public QMainWindow
{
    Q_OBJECT
public:
    // Opens a viewer of `report` (not owned: it must outlive the viewer) that belongs to `opener`
    // and closes with it; not modal. A preview-only viewer can neither print nor delete. `queue`
    // takes the report when the user prints it (nullptr: printing is not offered). `settings`
    // gives the window the program's look. Returns nullptr, after telling the user, when the
    // report file cannot be read.
    static ReportViewer* showReport(QWidget* opener, const ReportHeader& report, bool previewOnly,
                                    JobState* queue, const AppSettings* settings = nullptr);

    const ReportHeader& report() const { return m_report; }
    const ReportText& text() const { return m_text; }
    bool framesOn() const;

    // Searches from the row after (or before) the cursor, as "Najít další" does.
    void findNext();
    // Selects a row and scrolls it into the middle of the window, as a hit found elsewhere is
    // shown; a row out of range changes nothing.
    void showRow(qsizetype row);
    // Asks where to save the report as text (a test may answer instead: it gets the proposed
    // file name and returns the chosen path, empty to cancel).
    using SaveFileChooser = std::function<QString(QWidget* parent, const QString& proposed)>;
    void setSaveFileChooser(SaveFileChooser chooser) { m_chooseSaveFile = std::move(chooser); }
    // Uses `font` for the rows, as choosing it in the font dialog does.
    void setViewerFont(const FontDesc& font);

    struct Widgets
    {
        QListView* rows = nullptr;
        QLabel* status = nullptr;
        QAction* printAction = nullptr;
        QAction* deleteAction = nullptr;
        QAction* findAction = nullptr;
        QAction* findNextAction = nullptr;
        QAction* saveAction = nullptr;
        QAction* fontAction = nullptr;
        QAction* framesAction = nullptr;
    };
    const Widgets& ui() const { return m_ui; }
    FindTextDialog* findDialog() const { return m_findDialog; }

    // Opens the print preview of a viewer's report ("Náhled tisku"): `queue` is the viewer's
    // re-print queue, nullptr in a preview-only viewer. The action is offered only while an
    // opener is set; the program sets it once where it is put together.
    using PrintPreviewOpener =
        std::function<void(const QString& reportPath, JobState* queue, QWidget* viewer)>;
    static void setPrintPreviewOpener(PrintPreviewOpener open);
    // The font the font dialog starts with for a viewer font: the face's own style that matches
    // its weight and slant, so that the dialog selects that style and not merely the first one.
    static QFont dialogFont(const FontDesc& font);
    QAction* printPreviewAction() const { return m_printPreviewAction; }
    // Every command of the viewer, as Shift+F10, the Menu key or the right mouse button offer
    // them on the text.
    QMenu* contextMenu() const { return m_contextMenu; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    ReportViewer(QWidget* opener, const ReportHeader& report, bool previewOnly, JobState* queue);
    void createWidgets();
    bool loadReport(QString& error);
    void keepStatusWhole();
    void sizeForPage();
    void keepOnScreen();
    QPoint keyboardMenuPos() const;
    void applyFont();
    void updateActions();
    void find();
    void saveAsText();
    void chooseFont();
    void setFramesOn(bool on);
    void storeFrames() const;

    const ReportHeader& m_report;
    bool m_previewOnly;
    JobState* m_queue;
    ReportText m_text;
    FontDesc m_font;
    bool m_framesAvailable = false;
    bool m_keptOnScreen = false;
    QString m_searchText;
    bool m_searchUp = false;
    qsizetype m_searchPos = -1;
    QPointer<FindTextDialog> m_findDialog;
    SaveFileChooser m_chooseSaveFile;
    class RowsModel;
    RowsModel* m_model = nullptr;
    Widgets m_ui;
    QAction* m_printPreviewAction = nullptr;
    QMenu* m_contextMenu = nullptr;
    void createPrintPreviewAction(QToolBar* bar);
};
