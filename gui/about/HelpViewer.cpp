#include "gui/about/HelpViewer.h"

#include "gui/common/MessageDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHelpContentItem>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QSplitter>
#include <QStyle>
#include <QTextBrowser>
#include <QThread>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// The help's start page; every page lies in the help file's folder "doc".
QString startPage()
{
    return QStringLiteral("index.htm");
}

QPointer<HelpWindow>& theWindow()
{
    static QPointer<HelpWindow> window;
    return window;
}

// A page view that takes the pages, style sheets and pictures of qthelp:// addresses from the
// help engine. Pages and style sheets are UTF-8.
class HelpBrowser : public QTextBrowser
{
public:
    HelpBrowser(QHelpEngineCore& engine, QWidget* parent) : QTextBrowser(parent), m_engine(engine)
    {}

    QVariant loadResource(int type, const QUrl& name) override
    {
        if (name.scheme() != u"qthelp")
            return QTextBrowser::loadResource(type, name);
        const QByteArray data = m_engine.fileData(name.adjusted(QUrl::RemoveFragment));
        if (type == QTextDocument::HtmlResource || type == QTextDocument::StyleSheetResource)
            return QString::fromUtf8(data);
        return data;
    }

private:
    QHelpEngineCore& m_engine;
};

// Looks for the contents entry of `url` below `parent`: the one with the same page and anchor,
// else the first one with the same page.
void findEntry(const QHelpContentModel& model, const QModelIndex& parent, const QUrl& url,
               QModelIndex& samePage, QModelIndex& exact)
{
    const QUrl page = url.adjusted(QUrl::RemoveFragment);
    for (int row = 0; row < model.rowCount(parent) && !exact.isValid(); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        const QHelpContentItem* item = model.contentItemAt(index);
        if (!item)
            continue;
        if (item->url().adjusted(QUrl::RemoveFragment) == page) {
            if (item->url().fragment() == url.fragment()) {
                exact = index;
                return;
            }
            if (!samePage.isValid())
                samePage = index;
        }
        findEntry(model, index, url, samePage, exact);
    }
}

} // namespace

QString helpFileNameFor(const QString& programPath)
{
    const qsizetype slash = programPath.lastIndexOf(u'/');
    const qsizetype dot = programPath.lastIndexOf(u'.');
    // A dot that starts the file name marks a hidden file, not an extension.
    const QString stem = dot > slash + 1 ? programPath.left(dot) : programPath;
    return stem + QStringLiteral(".qch");
}

QString findHelpFileFor(const QString& programPath)
{
    const QString beside = helpFileNameFor(programPath);
    if (QFileInfo(beside).isFile())
        return beside;
    // The data directory as seen from the program's directory, set by the build from the
    // installation's directories.
    const QFileInfo helpName(beside);
    const QString installed =
        QDir::cleanPath(helpName.path() + u'/' + QStringLiteral(TARNYX_HELP_DIR_FROM_PROGRAM) +
                        u'/' + helpName.fileName());
    return QFileInfo(installed).isFile() ? installed : beside;
}

QString defaultHelpFile()
{
    return findHelpFileFor(QCoreApplication::applicationFilePath());
}

HelpWindow::HelpWindow(const QString& helpFile)
    : m_helpFile(helpFile), m_collectionDir(QDir::tempPath() + u"/tarnyx-help-XXXXXX")
{
    setWindowTitle(QStringLiteral("Nápověda - Tarnyx"));
}

HelpWindow::~HelpWindow()
{
    if (m_host)
        m_host->removeEventFilter(this);
    // Qt's reader of the contents can free its tree twice when it is stopped half-way, as the
    // engine's end would stop it. For our help file it needs milliseconds: it is let finish.
    if (m_engine) {
        const QDeadlineTimer limit(5000);
        while (m_engine->contentModel()->isCreatingContents() && !limit.hasExpired())
            QThread::msleep(2);
    }
}

std::unique_ptr<HelpWindow> HelpWindow::open(const QString& helpFile, QString& error)
{
    const QString path = QFileInfo(helpFile).absoluteFilePath();
    if (!QFileInfo(path).isFile()) {
        error =
            QStringLiteral("Soubor nápovědy %1 nebyl nalezen.").arg(QDir::toNativeSeparators(path));
        return {};
    }
    std::unique_ptr<HelpWindow> window(new HelpWindow(path));
    if (!window->setUp(error))
        return {};
    return window;
}

bool HelpWindow::setUp(QString& error)
{
    // The collection is ours alone and thrown away with the window: nothing stale survives a
    // moved or rebuilt help file, and two running copies never share it.
    bool ok = m_collectionDir.isValid();
    if (ok) {
        // The help file is registered by an engine without contents, and the window's engine
        // sets its data up once: each setup starts the contents' reader thread anew, and Qt's
        // reader can free its tree twice when a second setup cuts the first one short.
        const QString collection = m_collectionDir.filePath(QStringLiteral("tarnyx.qhc"));
        m_namespace = QHelpEngineCore::namespaceName(m_helpFile);
        QString problem;
        {
            QHelpEngineCore registrar(collection);
            registrar.setReadOnly(false);
            ok = registrar.setupData() && !m_namespace.isEmpty() &&
                 registrar.registerDocumentation(m_helpFile);
            problem = registrar.error();
        }
        if (ok) {
            m_engine = std::make_unique<QHelpEngine>(collection);
            ok = m_engine->setupData();
            problem = m_engine->error();
        }
        if (!ok)
            qWarning("Help file %s cannot be opened: %s", qUtf8Printable(m_helpFile),
                     qUtf8Printable(problem));
    }
    if (!ok) {
        error = QStringLiteral("Soubor nápovědy %1 se nepodařilo otevřít.")
                    .arg(QDir::toNativeSeparators(m_helpFile));
        return false;
    }

    auto* toolBar = new QToolBar(this);
    toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* back =
        toolBar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Zpět"));
    QAction* forward =
        toolBar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Vpřed"));
    QAction* home =
        toolBar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("Obsah"));
    back->setEnabled(false);
    forward->setEnabled(false);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    m_contents = m_engine->contentWidget();
    m_contents->setObjectName(QStringLiteral("helpContents"));
    splitter->addWidget(m_contents);
    m_browser = new HelpBrowser(*m_engine, splitter);
    m_browser->setObjectName(QStringLiteral("helpPage"));
    m_browser->setOpenLinks(false);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, 630});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar);
    layout->addWidget(splitter, 1);
    resize(860, 640);

    connect(back, &QAction::triggered, m_browser, &QTextBrowser::backward);
    connect(forward, &QAction::triggered, m_browser, &QTextBrowser::forward);
    connect(home, &QAction::triggered, this, [this] { showTopic(startPage()); });
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &HelpWindow::openLink);
    connect(m_browser, &QTextBrowser::sourceChanged, this, &HelpWindow::selectInContents);

    // Activation alone needs a double click in many styles; a single click opens a topic too.
    connect(m_contents, &QHelpContentWidget::linkActivated, this, &HelpWindow::openLink);
    connect(m_contents, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (const QHelpContentItem* item = m_engine->contentModel()->contentItemAt(index))
            openLink(item->url());
    });
    // The contents are read in the background and arrive after the first page.
    connect(m_engine->contentModel(), &QHelpContentModel::contentsCreated, this, [this] {
        m_contents->expandToDepth(0);
        selectInContents(m_browser->source());
    });
    return true;
}

QUrl HelpWindow::topicUrl(const QString& topic) const
{
    QUrl base;
    base.setScheme(QStringLiteral("qthelp"));
    base.setHost(m_namespace);
    base.setPath(QStringLiteral("/doc/"));
    return base.resolved(QUrl(topic));
}

void HelpWindow::showTopic(const QString& topic)
{
    QUrl url = topicUrl(topic);
    if (m_engine->fileData(url.adjusted(QUrl::RemoveFragment)).isEmpty())
        url = topicUrl(startPage());
    m_browser->setSource(url);
}

void HelpWindow::openLink(const QUrl& link)
{
    const QUrl url = link.isRelative() ? m_browser->source().resolved(link) : link;
    if (url.scheme() == u"qthelp") {
        if (url != m_browser->source())
            m_browser->setSource(url);
        return;
    }
    // Web pages and mail addresses belong to the desktop's own programs.
    QDesktopServices::openUrl(url);
}

void HelpWindow::selectInContents(const QUrl& url)
{
    const QHelpContentModel& model = *m_engine->contentModel();
    QModelIndex samePage;
    QModelIndex exact;
    findEntry(model, QModelIndex(), url, samePage, exact);
    const QModelIndex entry = exact.isValid() ? exact : samePage;
    if (!entry.isValid())
        return;
    for (QModelIndex parent = entry.parent(); parent.isValid(); parent = parent.parent())
        m_contents->expand(parent);
    m_contents->setCurrentIndex(entry);
    m_contents->scrollTo(entry);
}

void HelpWindow::placeOver(QWidget* host)
{
    if (host)
        host = host->window();
    if (host == this || parentWidget() == host)
        return;
    if (m_host)
        m_host->removeEventFilter(this);
    const bool shown = isVisible();
    const QRect place = geometry();
    setParent(host, Qt::Window);
    m_host = host;
    if (host)
        host->installEventFilter(this);
    if (shown) {
        setGeometry(place);
        show();
    }
}

bool HelpWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The modal window we were lent to goes away: stay open on our own.
    if (watched == m_host && event->type() == QEvent::Hide && !event->spontaneous())
        placeOver(nullptr);
    return QWidget::eventFilter(watched, event);
}

void HelpWindow::closeEvent(QCloseEvent* event)
{
    // A closed window is on its way out; the next help command makes a new one.
    if (theWindow() == this)
        theWindow() = nullptr;
    QWidget::closeEvent(event);
}

void showHelpTopic(QWidget* owner, const QString& helpFile, const QString& topic)
{
    QPointer<HelpWindow>& window = theWindow();
    if (window && window->helpFile() != QFileInfo(helpFile).absoluteFilePath())
        closeAllHelp();
    if (!window) {
        QString error;
        std::unique_ptr<HelpWindow> made = HelpWindow::open(helpFile, error);
        if (!made) {
            messageDlg(error, MsgKind::Error, {MsgButton::Ok}, QStringLiteral("Nápověda"), owner);
            return;
        }
        made->setAttribute(Qt::WA_DeleteOnClose);
        window = made.release();
        // A window of its own is not freed with the application: free it, and with it the
        // engine's temporary collection, when the event loop ends.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, &closeAllHelp);
    }
    // A help window that a modal dialog's help command opens must not be blocked by that dialog.
    window->placeOver(QApplication::activeModalWidget());
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->showTopic(topic);
    window->raise();
    window->activateWindow();
}

void closeAllHelp()
{
    QPointer<HelpWindow>& window = theWindow();
    if (!window)
        return;
    // Freed at once rather than later: after the last help command before the program ends there
    // may be no event loop left to do it.
    HelpWindow* closing = window;
    window = nullptr;
    delete closing;
}
