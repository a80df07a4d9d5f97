#include "gui/update/NewVersionDialog.h"

#include "core/config/AppSettings.h"
#include "core/report/CodePages.h"
#include "core/update/RtfReader.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "print/CupsPrinterCatalog.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kClientWidth = 396;
constexpr int kClientHeight = 300;
constexpr int kMinWidth = 404;
constexpr int kMinHeight = 310;
constexpr double kBytesPerMegabyte = 1048576.0;

// Addresses written in the description become links: web addresses with or without their
// scheme, and mail addresses. An address ends at white space or at characters that cannot stand
// in one unquoted.
const QRegularExpression& linkPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"((?<![\w@.])(?:https?://|mailto:|www\.)[^\s<>"\x{2028}\x{2029}]+)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

// Punctuation that ends a sentence is not part of an address written in it, nor is a closing
// bracket without its opening one ("(see www.example.cz)").
qsizetype trimmedLinkLength(QStringView text)
{
    qsizetype length = text.size();
    while (length > 0) {
        const QChar last = text.at(length - 1);
        if (QStringView(u".,;:!?'").contains(last)) {
            --length;
            continue;
        }
        if (last == u')' && text.first(length).count(u')') > text.first(length).count(u'(')) {
            --length;
            continue;
        }
        break;
    }
    return length;
}

// The address a link opens: one written without its scheme is a web page.
QUrl linkTarget(const QString& written)
{
    if (written.startsWith(QStringLiteral("www."), Qt::CaseInsensitive))
        return QUrl(QStringLiteral("http://") + written, QUrl::TolerantMode);
    return QUrl(written, QUrl::TolerantMode);
}

bool isPrefixOnly(QStringView written)
{
    for (const char16_t* prefix : {u"http://", u"https://", u"mailto:", u"www."}) {
        if (written.compare(QStringView(prefix), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

NewVersionDialog::NewVersionDialog(const AppSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormNewVer"));
    setWindowTitle(QStringLiteral("Stažení nové verze"));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kClientWidth, kClientHeight);

    m_ui.infoLabel = new QLabel(this);
    m_ui.infoLabel->setObjectName(QStringLiteral("infoLabel"));
    // The version comes from the web page: never read as markup.
    m_ui.infoLabel->setTextFormat(Qt::PlainText);

    m_ui.details = new QTextBrowser(this);
    m_ui.details->setObjectName(QStringLiteral("details"));
    m_ui.details->setReadOnly(true);
    m_ui.details->setLineWrapMode(QTextEdit::NoWrap);
    m_ui.details->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_ui.details->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Links open in the user's browser; the pane itself never navigates away from the text.
    m_ui.details->setOpenLinks(false);
    m_ui.details->setOpenExternalLinks(false);
    m_ui.details->document()->setUndoRedoEnabled(false);
    m_ui.details->setToolTip(
        QStringLiteral("Podrobnější popis novinek a změn v nabízené verzi, případně další "
                       "informace, \nkteré je vhodné znát ještě před instalací verze.\nPopis je "
                       "možné vytisknout nebo vložit do schránky pomocí místní nabídky."));
    connect(m_ui.details, &QTextBrowser::anchorClicked, this, &NewVersionDialog::openLink);

    m_ui.detailsLabel = new QLabel(QStringLiteral("&Podrobnosti:"), this);
    m_ui.detailsLabel->setObjectName(QStringLiteral("detailsLabel"));
    m_ui.detailsLabel->setBuddy(m_ui.details);

    m_ui.downloadButton = new QPushButton(QStringLiteral("&Stáhnout a nainstalovat"), this);
    m_ui.downloadButton->setObjectName(QStringLiteral("downloadButton"));
    m_ui.downloadButton->setDefault(true);
    m_ui.downloadButton->setToolTip(
        QStringLiteral("Stažení a následná instalace nové verze aplikace. \nPodmínkou úspěšného "
                       "stažení instalašního balíku je funkční připojení k Internetu. \nKdykoli "
                       "během stahování je možné ho přerušit."));
    connect(m_ui.downloadButton, &QPushButton::clicked, this, &QDialog::accept);

    m_ui.copyAction = new QAction(QStringLiteral("&Kopírovat"), this);
    m_ui.copyAction->setObjectName(QStringLiteral("copyAction"));
    m_ui.copyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    connect(m_ui.copyAction, &QAction::triggered, this, &NewVersionDialog::copyAll);
    m_ui.printAction = new QAction(QStringLiteral("&Tisk..."), this);
    m_ui.printAction->setObjectName(QStringLiteral("printAction"));
    m_ui.printAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(m_ui.printAction, &QAction::triggered, this, &NewVersionDialog::printDetails);
    // The shortcuts work anywhere in the window, the menu belongs to the pane.
    addAction(m_ui.copyAction);
    addAction(m_ui.printAction);
    m_ui.popupMenu = new QMenu(this);
    m_ui.popupMenu->setObjectName(QStringLiteral("popupMenu"));
    m_ui.popupMenu->addAction(m_ui.copyAction);
    m_ui.popupMenu->addAction(m_ui.printAction);
    m_ui.details->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_ui.details, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        m_ui.popupMenu->exec(m_ui.details->viewport()->mapToGlobal(pos));
    });

    m_ui.statusBar = new QStatusBar(this);
    m_ui.statusBar->setObjectName(QStringLiteral("statusBar"));
    m_ui.sizeLabel = new QLabel(m_ui.statusBar);
    m_ui.sizeLabel->setObjectName(QStringLiteral("sizeLabel"));
    m_ui.statusBar->addWidget(m_ui.sizeLabel, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ui.downloadButton);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(8, 8, 8, 8);
    body->setSpacing(6);
    body->addWidget(m_ui.infoLabel);
    body->addSpacing(4);
    body->addWidget(m_ui.detailsLabel);
    body->addWidget(m_ui.details, 1);
    body->addLayout(buttons);

    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(0);
    form->addLayout(body, 1);
    form->addWidget(m_ui.statusBar);

    setSize(0);
    setVersion({});
    showNoInfo();
    createWidgets(settings);
}

void NewVersionDialog::createWidgets(const AppSettings& settings)
{
    applyFormLook(this, settings);
    restoreWindowSize(this);
}

void NewVersionDialog::setSize(qint64 bytes)
{
    // Fixed notation with the user's decimal separator and no grouping of thousands.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    m_ui.sizeLabel->setText(QStringLiteral("Velikost instalačního souboru: %1 MB")
                                .arg(locale.toString(double(bytes) / kBytesPerMegabyte, 'f', 2)));
}

void NewVersionDialog::setVersion(const QString& version)
{
    m_version = version;
    m_ui.infoLabel->setText(QStringLiteral("Na webové stránce je dostupná verze %1.").arg(version));
}

void NewVersionDialog::setInfo(const QByteArray& details)
{
    if (details.isEmpty()) {
        showNoInfo();
        return;
    }
    QTextDocument* document = m_ui.details->document();
    if (!readRtf(details, *document))
        document->setPlainText(cp1250ToUnicode(details));
    // Details that show nothing at all (blank lines, an empty rich text document) tell the user
    // as little as none.
    if (document->toPlainText().trimmed().isEmpty()) {
        showNoInfo();
        return;
    }
    markLinks();
    m_ui.details->moveCursor(QTextCursor::Start);
}

void NewVersionDialog::showNoInfo()
{
    QTextDocument* document = m_ui.details->document();
    document->clear();
    QTextCharFormat grey;
    grey.setForeground(m_ui.details->palette().color(QPalette::Disabled, QPalette::Text));
    QTextCursor(document).insertText(QStringLiteral("Podrobné informace nejsou dostupné."), grey);
    m_ui.details->moveCursor(QTextCursor::Start);
}

QString NewVersionDialog::printTitle() const
{
    return QStringLiteral("%1 - verze %2").arg(QApplication::applicationName(), m_version);
}

void NewVersionDialog::markLinks()
{
    QTextDocument* document = m_ui.details->document();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        QRegularExpressionMatchIterator it = linkPattern().globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            const QStringView found =
                QStringView(text).sliced(match.capturedStart(), match.capturedLength());
            const QStringView written = found.first(trimmedLinkLength(found));
            if (written.isEmpty() || isPrefixOnly(written))
                continue;
            const QUrl target = linkTarget(written.toString());
            if (!target.isValid())
                continue;
            QTextCharFormat link;
            link.setAnchor(true);
            link.setAnchorHref(target.toString(QUrl::FullyEncoded));
            link.setForeground(m_ui.details->palette().color(QPalette::Link));
            link.setFontUnderline(true);
            cursor.setPosition(block.position() + int(match.capturedStart()));
            cursor.setPosition(block.position() + int(match.capturedStart() + written.size()),
                               QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(link);
        }
    }
    cursor.endEditBlock();
}

void NewVersionDialog::openLink(const QUrl& url)
{
    // Only the kinds of address the description may link to are handed on; whether the desktop
    // can open one is its own business.
    const QString scheme = url.scheme().toLower();
    if (scheme == QStringLiteral("http") || scheme == QStringLiteral("https") ||
        scheme == QStringLiteral("mailto"))
        QDesktopServices::openUrl(url);
}

void NewVersionDialog::copyAll()
{
    QTextCursor cursor = m_ui.details->textCursor();
    m_ui.details->selectAll();
    m_ui.details->copy();
    cursor.clearSelection();
    m_ui.details->setTextCursor(cursor);
}

void NewVersionDialog::printDetails()
{
    // A new printer object asks the scheduler for the default printer with no time limit; one
    // that hangs would freeze the program, so a question with a limit goes first.
    if (!CupsPrinterCatalog().available()) {
        messageDlg(PrinterCatalog::noAnswerText(), MsgKind::Error, {MsgButton::Ok}, {}, this);
        return;
    }
    QPrinter printer;
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    printer.setDocName(printTitle());
    m_ui.details->document()->print(&printer);
}

void NewVersionDialog::done(int result)
{
    saveWindowSize(this);
    QDialog::done(result);
}

void NewVersionDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        m_ui.downloadButton->setFocus();
    }
}

bool runNewVersionDialog(const AppSettings& settings, qint64 size, const QString& version,
                         const QByteArray& details, QWidget* parent)
{
    NewVersionDialog dialog(settings, parent);
    dialog.setSize(size);
    dialog.setVersion(version);
    dialog.setInfo(details);
    return dialog.exec() == QDialog::Accepted;
}
