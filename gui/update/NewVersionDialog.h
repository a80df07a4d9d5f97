// The dialog that offers a newer version of the program: the version published, the size of its
// installer and the publisher's description of the changes, which the user can copy, print and
// follow links in. It ends with the choice to download and install, or with a refusal.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QTextBrowser;
class QUrl;
struct AppSettings;

class NewVersionDialog : public QDialog
{
    Q_OBJECT
public:
    explicit NewVersionDialog(const AppSettings& settings, QWidget* parent = nullptr);

    // The size of the installer in bytes, shown in MB with two decimals in the status bar.
    void setSize(qint64 bytes);
    // The version offered; also names the printed description.
    void setVersion(const QString& version);
    const QString& version() const { return m_version; }
    // The description: rich text (RTF) is shown formatted, anything else as Windows-1250 plain
    // text. Empty details, or details without any visible text, show the note of showNoInfo.
    void setInfo(const QByteArray& details);
    // Replaces the description by one grey line saying that no details are available.
    void showNoInfo();

    // The name of the printed description in the print queue: program name and version.
    QString printTitle() const;

    // The widgets, as the window lays them out.
    struct Widgets
    {
        QLabel* infoLabel = nullptr;
        QLabel* detailsLabel = nullptr;
        QTextBrowser* details = nullptr;
        QPushButton* downloadButton = nullptr;
        QStatusBar* statusBar = nullptr;
        QLabel* sizeLabel = nullptr;
        QMenu* popupMenu = nullptr;
        QAction* copyAction = nullptr;
        QAction* printAction = nullptr;
    };
    const Widgets& ui() const { return m_ui; }

public slots:
    // Every way of closing ends here: the window size is saved.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    Widgets m_ui{};
    void createWidgets(const AppSettings& settings);
    void markLinks();
    void copyAll();
    void printDetails();
    void openLink(const QUrl& url);

    QString m_version;
    bool m_shown = false;
};

// Shows the offer modally with the installer's size, the version and its details. True when the
// user chose to download and install it.
bool runNewVersionDialog(const AppSettings& settings, qint64 size, const QString& version,
                         const QByteArray& details, QWidget* parent);
