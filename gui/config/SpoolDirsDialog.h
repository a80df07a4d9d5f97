#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

class QAction;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QToolButton;
struct AppSettings;

// The watched spool directories as a list: the user adds, replaces and removes entries through an
// edit field, picks folders with the folder browser or drops them from the file manager. The
// dialog changes no setting; its caller takes the result with list after OK.
class SpoolDirsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SpoolDirsDialog(const AppSettings& settings, QWidget* parent = nullptr);

    // Appends the entries of a ";"-separated text. An entry that begins with a double quote is a
    // quoted string (a doubled quote stands for one, a ";" inside is kept). Entries are trimmed;
    // empty ones are skipped, duplicates kept.
    void setList(const QString& text);
    // Every entry followed by ";"; empty for an empty list.
    QString list() const;

    // The entry selected in the list, or -1.
    int currentIndex() const { return m_index; }
    // True when an entry equals `text` exactly, letter case included.
    bool contains(const QString& text) const;

    // True when `directory` exists and may be listed. A directory that is not is still accepted
    // everywhere (a network share may be away for a while); the user is only told.
    static bool directoryAvailable(const QString& directory);
    // Tells the user once, naming them, which entries of a ";"-separated spool directory list
    // are not available (nothing when all are) and that the settings keep them all the same.
    static void warnUnavailable(const QString& directories, QWidget* parent);

    // Handles the full paths of items dropped on the directory group, in the file manager's order
    // (an empty path stands for an item without a local path): a first item that is an existing
    // directory goes into the edit field with a trailing "/"; anything else does nothing.
    void dropPaths(const QStringList& paths);

    // Asks for a folder, starting at `start` when it exists; empty when the user cancels.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& start)>;
    // Replaces the desktop's folder dialog (for tests).
    void setFolderChooser(FolderChooser chooser) { m_browseFolder = std::move(chooser); }

    // The widgets, as the window lays them out.
    struct Widgets
    {
        QGroupBox* dirGroup;
        QListWidget* dirList;
        QLineEdit* dirEdit;
        QToolButton* browseButton;
        QPushButton* replaceButton;
        QPushButton* addButton;
        QPushButton* deleteButton;
        QPushButton* okButton;
        QPushButton* cancelButton;
        QAction* browseAction;
        QAction* replaceAction;
        QAction* addAction;
        QAction* deleteAction;
    };
    const Widgets& ui() const { return m_ui; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FolderChooser m_browseFolder;
    Widgets m_ui{};
    void synchronise();
    void updateActions();
    // Adds an entry at the end of the list, marked as markEntry does.
    void appendEntry(const QString& directory);
    // Gives an entry the warning mark when its directory is not available, else takes it away.
    void markEntry(QListWidgetItem* item) const;
    // After an entry was added or replaced: the user hears when its directory is not there.
    void warnIfUnavailable(const QString& directory);
    // Trims the edit field and gives it a trailing "/"; returns the result.
    QString normaliseEdit();
    void addDirectory();
    void replaceDirectory();
    void deleteDirectory();
    void browseDirectory();

    int m_index = -1;
    bool m_shown = false;
};
