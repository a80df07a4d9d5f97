#pragma once

#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>

#include <memory>

class QHelpContentWidget;
class QHelpEngine;
class QTextBrowser;

// The program's help: the compiled help file beside the program, shown in one help window of
// the program's own (a contents tree and the page).

// The help file of the running program: findHelpFileFor() its own path.
QString defaultHelpFile();

// The help file of the program file `programPath`: the one beside the program
// (helpFileNameFor(), as in a build tree or a folder of its own) when it exists, else the one of
// the same name where an installation puts it, the data directory "share/tarnyx" of the
// program's prefix ("/usr/bin/tarnyx" has "/usr/share/tarnyx/tarnyx.qch"), when that exists;
// when neither exists, the one beside the program.
QString findHelpFileFor(const QString& programPath);

// The help file that belongs to the program file `programPath`: the same directory and base name,
// the extension (the part of the file name from its last dot) replaced by ".qch", or ".qch"
// appended when the name has none.
QString helpFileNameFor(const QString& programPath);

// Opens the help window on `topic` of `helpFile` (a page name with an optional "#" and anchor,
// relative to the help's start folder). An open help window on the same file is reused: there is
// never more than one. A help file that is missing or cannot be opened gives an error message
// (owned by `owner`) and no window. A topic that the help file lacks shows its start page.
void showHelpTopic(QWidget* owner, const QString& helpFile, const QString& topic);

// Closes the help window, if one is open, and frees it at once.
void closeAllHelp();

// The help window. Made by showHelpTopic; public so that tests can look inside.
class HelpWindow : public QWidget
{
    Q_OBJECT
public:
    ~HelpWindow() override;

    // A window on `helpFile`, or null with `error` set to a message for the user.
    static std::unique_ptr<HelpWindow> open(const QString& helpFile, QString& error);

    const QString& helpFile() const { return m_helpFile; }
    // Shows the page of `topic` and scrolls to its anchor.
    void showTopic(const QString& topic);

    // Keeps the window usable while `host` (a modal window, or null) is open: the window belongs
    // to that window while it is shown and becomes a window of its own again when it hides.
    void placeOver(QWidget* host);

    QTextBrowser* browser() const { return m_browser; }
    QHelpContentWidget* contents() const { return m_contents; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    explicit HelpWindow(const QString& helpFile);
    bool setUp(QString& error);
    QUrl topicUrl(const QString& topic) const;
    void openLink(const QUrl& link);
    void selectInContents(const QUrl& url);

    QString m_helpFile;
    QString m_namespace;
    // The engine's collection file lives here. Declared before the engine, so that it is removed
    // only after the engine has let go of it; the engine goes before the widgets that show it.
    QTemporaryDir m_collectionDir;
    std::unique_ptr<QHelpEngine> m_engine;
    QHelpContentWidget* m_contents = nullptr;
    QTextBrowser* m_browser = nullptr;
    QPointer<QWidget> m_host;
};
