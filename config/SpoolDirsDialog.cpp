#include "config/SpoolDirsDialog.h"

#include "config/FormLook.h"
#include "config/RegistryIni.h"
#include "platform/FileInfo.h"

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
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

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

    browseAction = new QAction(QStringLiteral("..."), this);
    browseAction->setToolTip(QStringLiteral("Vyhledání adresáře"));
    replaceAction = new QAction(QStringLiteral("&Nahradit"), this);
    replaceAction->setToolTip(
        QStringLiteral("Nahrazení adresáře v seznamu adresářem z editačního pole"));
    addAction = new QAction(QStringLiteral("&Přidat"), this);
    addAction->setToolTip(QStringLiteral("Přidání adresáře z editačního pole do seznamu adresářů"));
    deleteAction = new QAction(QStringLiteral("&Odebrat"), this);
    deleteAction->setToolTip(QStringLiteral("Odebrání adresáře ze seznamu adresářů"));

    dirGroup = new QGroupBox(QStringLiteral(" Sledované adresáře "), this);
    dirGroup->setAcceptDrops(true);
    dirGroup->installEventFilter(this);
    dirList = new QListWidget(dirGroup);
    dirList->setSelectionMode(QAbstractItemView::SingleSelection);
    dirList->setToolTip(QStringLiteral("Seznam sledovaných adresářů.\nNa úpravu seznamu použijte "
                                       "editační pole a tlačítka pod seznamem."));
    dirEdit = new QLineEdit(dirGroup);
    // Folders dropped anywhere on the group, the edit field included, go the same way.
    dirEdit->setAcceptDrops(false);
    dirEdit->setToolTip(QStringLiteral("Název měněného nebo přidávaného adresáře.\nK vyhledání "
                                       "můžete použít tlačítko vpravo."));
    btnDir = new QToolButton(dirGroup);
    replaceButton = new QPushButton(dirGroup);
    addButton = new QPushButton(dirGroup);
    deleteButton = new QPushButton(dirGroup);
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("Storno"), this);
    for (QPushButton* b : {replaceButton, addButton, deleteButton})
        b->setAutoDefault(false);

    auto* editRow = new QHBoxLayout;
    editRow->setSpacing(2);
    editRow->addWidget(dirEdit, 1);
    editRow->addWidget(btnDir);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(addButton);
    buttonRow->addWidget(replaceButton);
    buttonRow->addWidget(deleteButton);
    auto* group = new QVBoxLayout(dirGroup);
    group->addWidget(dirList, 1);
    group->addLayout(editRow);
    group->addLayout(buttonRow);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(okButton);
    closeRow->addWidget(cancelButton);
    auto* form = new QVBoxLayout(this);
    form->addWidget(dirGroup);
    form->addLayout(closeRow);
    form->setSizeConstraint(QLayout::SetFixedSize);
    dirList->setMinimumSize(360, 160);

    bindButton(btnDir, browseAction);
    bindButton(replaceButton, replaceAction);
    bindButton(addButton, addAction);
    bindButton(deleteButton, deleteAction);
    connect(browseAction, &QAction::triggered, this, &SpoolDirsDialog::browseDirectory);
    connect(replaceAction, &QAction::triggered, this, &SpoolDirsDialog::replaceDirectory);
    connect(addAction, &QAction::triggered, this, &SpoolDirsDialog::addDirectory);
    connect(deleteAction, &QAction::triggered, this, &SpoolDirsDialog::deleteDirectory);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(dirList, &QListWidget::itemSelectionChanged, this, &SpoolDirsDialog::synchronise);
    connect(dirEdit, &QLineEdit::textChanged, this, &SpoolDirsDialog::updateActions);

    browseFolder = [](QWidget* owner, const QString& start) {
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
        if (!dir.isEmpty())
            dirList->addItem(dir);
    }
    updateActions();
}

QString SpoolDirsDialog::list() const
{
    QString text;
    for (int i = 0; i < dirList->count(); ++i)
        text += dirList->item(i)->text() + u';';
    return text;
}

bool SpoolDirsDialog::contains(const QString& text) const
{
    for (int i = 0; i < dirList->count(); ++i)
        if (dirList->item(i)->text() == text)
            return true;
    return false;
}

void SpoolDirsDialog::showEvent(QShowEvent* event)
{
    if (!m_shown) {
        m_shown = true;
        btnDir->setFixedHeight(dirEdit->sizeHint().height());
        if (dirList->count() > 0)
            dirList->setCurrentRow(0);
        synchronise();
    }
    QDialog::showEvent(event);
}

void SpoolDirsDialog::synchronise()
{
    const QList<QListWidgetItem*> selected = dirList->selectedItems();
    m_index = selected.isEmpty() ? -1 : dirList->row(selected.first());
    dirEdit->setText(m_index < 0 ? QString() : dirList->item(m_index)->text());
    updateActions();
}

void SpoolDirsDialog::updateActions()
{
    const QString text = dirEdit->text();
    addAction->setEnabled(!text.isEmpty() && !contains(text));
    replaceAction->setEnabled(m_index >= 0 && m_index < dirList->count() &&
                              text != dirList->item(m_index)->text());
    deleteAction->setEnabled(m_index >= 0);
}

QString SpoolDirsDialog::normaliseEdit()
{
    const QString dir = platform::includeTrailingPathDelimiter(trimText(dirEdit->text()));
    if (dir != dirEdit->text())
        dirEdit->setText(dir);
    return dir;
}

void SpoolDirsDialog::addDirectory()
{
    const QString dir = normaliseEdit();
    if (dir.isEmpty() || contains(dir))
        return;
    dirList->addItem(dir);
    dirList->setCurrentRow(dirList->count() - 1);
    synchronise();
}

void SpoolDirsDialog::replaceDirectory()
{
    const int index = m_index;
    const QString dir = normaliseEdit();
    if (index < 0 || dir.isEmpty() || contains(dir))
        return;
    dirList->item(index)->setText(dir);
    updateActions();
}

void SpoolDirsDialog::deleteDirectory()
{
    int index = m_index;
    if (index < 0)
        return;
    dirList->setFocus();
    {
        // The rows change below; the selection is put right afterwards in one step.
        const QSignalBlocker block(dirList);
        delete dirList->takeItem(index);
        if (index >= dirList->count())
            --index;
        dirList->clearSelection();
        if (index >= 0)
            dirList->setCurrentRow(index);
    }
    synchronise();
}

void SpoolDirsDialog::browseDirectory()
{
    const QString start = trimText(dirEdit->text());
    const QString chosen = browseFolder(this, QFileInfo(start).isDir() ? start : QString());
    if (!chosen.isEmpty())
        dirEdit->setText(QDir::toNativeSeparators(chosen));
}

void SpoolDirsDialog::dropPaths(const QStringList& paths)
{
    if (paths.isEmpty() || paths.first().isEmpty() || !QFileInfo(paths.first()).isDir())
        return;
    dirEdit->setText(platform::includeTrailingPathDelimiter(paths.first()));
}

bool SpoolDirsDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != dirGroup)
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
