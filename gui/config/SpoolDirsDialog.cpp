#include "gui/config/SpoolDirsDialog.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/platform/FileInfo.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"

#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString kUnavailableHint = QStringLiteral("Adresář neexistuje nebo není dostupný.");

// Splits a ";"-separated list; an entry that begins with a double quote runs to its closing quote
// (a doubled quote inside stands for one), and whatever follows it up to the next ";" is kept.
QStringList splitDirList(const QString& text)
{
    QStringList entries;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i <= n) {
        QString entry;
        if (i < n && text.at(i) == u'"') {
            ++i;
            while (i < n) {
                if (text.at(i) == u'"') {
                    if (i + 1 < n && text.at(i + 1) == u'"') {
                        entry += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                entry += text.at(i++);
            }
        }
        const qsizetype end = text.indexOf(u';', i);
        entry += text.mid(i, (end < 0 ? n : end) - i);
        entries << entry;
        if (end < 0)
            break;
        i = end + 1;
    }
    return entries;
}

} // namespace

SpoolDirsDialog::SpoolDirsDialog(const AppSettings& settings, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormDirs"));
    setWindowTitle(QStringLiteral("Adresáře"));
    setWindowFlags(kFixedDialogFlags);

    m_ui.browseAction = new QAction(QStringLiteral("..."), this);
    m_ui.browseAction->setToolTip(QStringLiteral("Vyhledání adresáře"));
    m_ui.replaceAction = new QAction(QStringLiteral("&Nahradit"), this);
    m_ui.replaceAction->setToolTip(
        QStringLiteral("Nahrazení adresáře v seznamu adresářem z editačního pole"));
    m_ui.addAction = new QAction(QStringLiteral("&Přidat"), this);
    m_ui.addAction->setToolTip(
        QStringLiteral("Přidání adresáře z editačního pole do seznamu adresářů"));
    m_ui.deleteAction = new QAction(QStringLiteral("&Odebrat"), this);
    m_ui.deleteAction->setToolTip(QStringLiteral("Odebrání adresáře ze seznamu adresářů"));

    m_ui.dirGroup = new QGroupBox(QStringLiteral(" Sledované adresáře "), this);
    m_ui.dirGroup->setAcceptDrops(true);
    m_ui.dirGroup->installEventFilter(this);
    m_ui.dirList = new QListWidget(m_ui.dirGroup);
    m_ui.dirList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ui.dirList->setToolTip(
        QStringLiteral("Seznam sledovaných adresářů.\nNa úpravu seznamu použijte "
                       "editační pole a tlačítka pod seznamem."));
    m_ui.dirEdit = new QLineEdit(m_ui.dirGroup);
    // Folders dropped anywhere on the group, the edit field included, go the same way.
    m_ui.dirEdit->setAcceptDrops(false);
    m_ui.dirEdit->setToolTip(
        QStringLiteral("Název měněného nebo přidávaného adresáře.\nK vyhledání "
                       "můžete použít tlačítko vpravo."));
    m_ui.browseButton = new QToolButton(m_ui.dirGroup);
    m_ui.replaceButton = new QPushButton(m_ui.dirGroup);
    m_ui.addButton = new QPushButton(m_ui.dirGroup);
    m_ui.deleteButton = new QPushButton(m_ui.dirGroup);
    m_ui.okButton = new QPushButton(QStringLiteral("OK"), this);
    m_ui.okButton->setDefault(true);
    m_ui.cancelButton = new QPushButton(QStringLiteral("Storno"), this);
    for (QPushButton* b : {m_ui.replaceButton, m_ui.addButton, m_ui.deleteButton})
        b->setAutoDefault(false);

    auto* editRow = new QHBoxLayout;
    editRow->setSpacing(2);
    editRow->addWidget(m_ui.dirEdit, 1);
    editRow->addWidget(m_ui.browseButton);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_ui.addButton);
    buttonRow->addWidget(m_ui.replaceButton);
    buttonRow->addWidget(m_ui.deleteButton);
    auto* group = new QVBoxLayout(m_ui.dirGroup);
    group->addWidget(m_ui.dirList, 1);
    group->addLayout(editRow);
    group->addLayout(buttonRow);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(m_ui.okButton);
    closeRow->addWidget(m_ui.cancelButton);
    auto* form = new QVBoxLayout(this);
    form->addWidget(m_ui.dirGroup);
    form->addLayout(closeRow);
    form->setSizeConstraint(QLayout::SetFixedSize);
    m_ui.dirList->setMinimumSize(360, 160);

    bindButton(m_ui.browseButton, m_ui.browseAction);
    bindButton(m_ui.replaceButton, m_ui.replaceAction);
    bindButton(m_ui.addButton, m_ui.addAction);
    bindButton(m_ui.deleteButton, m_ui.deleteAction);
    connect(m_ui.browseAction, &QAction::triggered, this, &SpoolDirsDialog::browseDirectory);
    connect(m_ui.replaceAction, &QAction::triggered, this, &SpoolDirsDialog::replaceDirectory);
    connect(m_ui.addAction, &QAction::triggered, this, &SpoolDirsDialog::addDirectory);
    connect(m_ui.deleteAction, &QAction::triggered, this, &SpoolDirsDialog::deleteDirectory);
    connect(m_ui.okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui.cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui.dirList, &QListWidget::itemSelectionChanged, this, &SpoolDirsDialog::synchronise);
    connect(m_ui.dirEdit, &QLineEdit::textChanged, this, &SpoolDirsDialog::updateActions);

    m_browseFolder = [](QWidget* owner, const QString& start) {
        return QFileDialog::getExistingDirectory(owner, QString(), start,
                                                 QFileDialog::ShowDirsOnly);
    };

    applyFormLook(this, settings);
    updateActions();
}

void SpoolDirsDialog::setList(const QString& text)
{
    for (const QString& entry : splitDirList(text)) {
        const QString dir = trimText(entry);
        if (dir.isEmpty())
            continue;
        appendEntry(dir);
    }
    updateActions();
}

QString SpoolDirsDialog::list() const
{
    QString text;
    for (int i = 0; i < m_ui.dirList->count(); ++i)
        text += m_ui.dirList->item(i)->text() + u';';
    return text;
}

bool SpoolDirsDialog::directoryAvailable(const QString& directory)
{
    const QFileInfo info(directory);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

void SpoolDirsDialog::warnUnavailable(const QString& directories, QWidget* parent)
{
    QStringList missing;
    for (const QString& dir : spoolDirectoryList(directories))
        if (!directoryAvailable(dir) && !missing.contains(dir))
            missing << dir;
    if (missing.isEmpty())
        return;
    const QString text =
        missing.size() == 1
            ? QStringLiteral("Adresář %1 neexistuje nebo není dostupný.\rNastavení se přesto "
                             "uloží: může jít o síťový adresář, který je právě odpojený.")
                  .arg(missing.first())
            : QStringLiteral("Tyto adresáře neexistují nebo nejsou dostupné:\r%1\rNastavení se "
                             "přesto uloží: může jít o síťové adresáře, které jsou právě "
                             "odpojené.")
                  .arg(missing.join(u'\r'));
    messageDlg(text, MsgKind::Warning, {MsgButton::Ok}, QString(), parent);
}

void SpoolDirsDialog::appendEntry(const QString& directory)
{
    m_ui.dirList->addItem(directory);
    markEntry(m_ui.dirList->item(m_ui.dirList->count() - 1));
}

void SpoolDirsDialog::markEntry(QListWidgetItem* item) const
{
    const bool available = directoryAvailable(item->text());
    item->setIcon(available ? QIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
    // The list's own hint stands for every entry that is there.
    item->setToolTip(available ? QString() : kUnavailableHint);
}

void SpoolDirsDialog::warnIfUnavailable(const QString& directory)
{
    if (!directoryAvailable(directory))
        messageDlg(QStringLiteral("Adresář %1 neexistuje nebo není dostupný.\rV seznamu přesto "
                                  "zůstane: může jít o síťový adresář, který je právě odpojený.")
                       .arg(directory),
                   MsgKind::Warning, {MsgButton::Ok}, QString(), this);
}

bool SpoolDirsDialog::contains(const QString& text) const
{
    for (int i = 0; i < m_ui.dirList->count(); ++i)
        if (m_ui.dirList->item(i)->text() == text)
            return true;
    return false;
}

void SpoolDirsDialog::showEvent(QShowEvent* event)
{
    if (!m_shown) {
        m_shown = true;
        m_ui.browseButton->setFixedHeight(m_ui.dirEdit->sizeHint().height());
        if (m_ui.dirList->count() > 0)
            m_ui.dirList->setCurrentRow(0);
        synchronise();
    }
    QDialog::showEvent(event);
}

void SpoolDirsDialog::synchronise()
{
    const QList<QListWidgetItem*> selected = m_ui.dirList->selectedItems();
    m_index = selected.isEmpty() ? -1 : m_ui.dirList->row(selected.first());
    m_ui.dirEdit->setText(m_index < 0 ? QString() : m_ui.dirList->item(m_index)->text());
    updateActions();
}

void SpoolDirsDialog::updateActions()
{
    const QString text = m_ui.dirEdit->text();
    m_ui.addAction->setEnabled(!text.isEmpty() && !contains(text));
    m_ui.replaceAction->setEnabled(m_index >= 0 && m_index < m_ui.dirList->count() &&
                                   text != m_ui.dirList->item(m_index)->text());
    m_ui.deleteAction->setEnabled(m_index >= 0);
}

QString SpoolDirsDialog::normaliseEdit()
{
    const QString dir = platform::includeTrailingPathDelimiter(trimText(m_ui.dirEdit->text()));
    if (dir != m_ui.dirEdit->text())
        m_ui.dirEdit->setText(dir);
    return dir;
}

void SpoolDirsDialog::addDirectory()
{
    const QString dir = normaliseEdit();
    if (dir.isEmpty() || contains(dir))
        return;
    appendEntry(dir);
    m_ui.dirList->setCurrentRow(m_ui.dirList->count() - 1);
    synchronise();
    warnIfUnavailable(dir);
}

void SpoolDirsDialog::replaceDirectory()
{
    const int index = m_index;
    const QString dir = normaliseEdit();
    if (index < 0 || dir.isEmpty() || contains(dir))
        return;
    m_ui.dirList->item(index)->setText(dir);
    markEntry(m_ui.dirList->item(index));
    updateActions();
    warnIfUnavailable(dir);
}

void SpoolDirsDialog::deleteDirectory()
{
    int index = m_index;
    if (index < 0)
        return;
    m_ui.dirList->setFocus();
    {
        // The rows change below; the selection is put right afterwards in one step.
        const QSignalBlocker block(m_ui.dirList);
        delete m_ui.dirList->takeItem(index);
        if (index >= m_ui.dirList->count())
            --index;
        m_ui.dirList->clearSelection();
        if (index >= 0)
            m_ui.dirList->setCurrentRow(index);
    }
    synchronise();
}

void SpoolDirsDialog::browseDirectory()
{
    const QString start = trimText(m_ui.dirEdit->text());
    const QString chosen = m_browseFolder(this, QFileInfo(start).isDir() ? start : QString());
    if (!chosen.isEmpty())
        m_ui.dirEdit->setText(QDir::toNativeSeparators(chosen));
}

void SpoolDirsDialog::dropPaths(const QStringList& paths)
{
    if (paths.isEmpty() || paths.first().isEmpty() || !QFileInfo(paths.first()).isDir())
        return;
    m_ui.dirEdit->setText(platform::includeTrailingPathDelimiter(paths.first()));
}

bool SpoolDirsDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_ui.dirGroup)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData()->hasUrls())
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        QStringList paths;
        for (const QUrl& url : drop->mimeData()->urls())
            paths << (url.isLocalFile() ? url.toLocalFile() : QString());
        dropPaths(paths);
        drop->acceptProposedAction();
        return true;
    }
    default:
        return QDialog::eventFilter(watched, event);
    }
}
