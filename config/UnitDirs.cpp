#include "config/UnitDirs.h"

#include "config/FormLook.h"
#include "config/MvRegIni.h"
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

TFormDirs::TFormDirs(const TAppSettings& settings, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormDirs"));
    setWindowTitle(QStringLiteral("Adresáře"));
    setWindowFlags(FixedDialogFlags);

    ActDir = new QAction(QStringLiteral("..."), this);
    ActDir->setToolTip(QStringLiteral("Vyhledání adresáře"));
    ActReplace = new QAction(QStringLiteral("&Nahradit"), this);
    ActReplace->setToolTip(
        QStringLiteral("Nahrazení adresáře v seznamu adresářem z editačního pole"));
    ActAdd = new QAction(QStringLiteral("&Přidat"), this);
    ActAdd->setToolTip(QStringLiteral("Přidání adresáře z editačního pole do seznamu adresářů"));
    ActDel = new QAction(QStringLiteral("&Odebrat"), this);
    ActDel->setToolTip(QStringLiteral("Odebrání adresáře ze seznamu adresářů"));

    GroupDir = new QGroupBox(QStringLiteral(" Sledované adresáře "), this);
    GroupDir->setAcceptDrops(true);
    GroupDir->installEventFilter(this);
    ListDir = new QListWidget(GroupDir);
    ListDir->setSelectionMode(QAbstractItemView::SingleSelection);
    ListDir->setToolTip(QStringLiteral("Seznam sledovaných adresářů.\nNa úpravu seznamu použijte "
                                       "editační pole a tlačítka pod seznamem."));
    EditDir = new QLineEdit(GroupDir);
    // Folders dropped anywhere on the group, the edit field included, go the same way.
    EditDir->setAcceptDrops(false);
    EditDir->setToolTip(QStringLiteral("Název měněného nebo přidávaného adresáře.\nK vyhledání "
                                       "můžete použít tlačítko vpravo."));
    btnDir = new QToolButton(GroupDir);
    BtnReplace = new QPushButton(GroupDir);
    BtnAdd = new QPushButton(GroupDir);
    BtnDel = new QPushButton(GroupDir);
    BtnOK = new QPushButton(QStringLiteral("OK"), this);
    BtnOK->setDefault(true);
    BtnCancel = new QPushButton(QStringLiteral("Storno"), this);
    for (QPushButton* b : {BtnReplace, BtnAdd, BtnDel})
        b->setAutoDefault(false);

    auto* editRow = new QHBoxLayout;
    editRow->setSpacing(2);
    editRow->addWidget(EditDir, 1);
    editRow->addWidget(btnDir);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(BtnAdd);
    buttonRow->addWidget(BtnReplace);
    buttonRow->addWidget(BtnDel);
    auto* group = new QVBoxLayout(GroupDir);
    group->addWidget(ListDir, 1);
    group->addLayout(editRow);
    group->addLayout(buttonRow);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(BtnOK);
    closeRow->addWidget(BtnCancel);
    auto* form = new QVBoxLayout(this);
    form->addWidget(GroupDir);
    form->addLayout(closeRow);
    form->setSizeConstraint(QLayout::SetFixedSize);
    ListDir->setMinimumSize(360, 160);

    BindButton(btnDir, ActDir);
    BindButton(BtnReplace, ActReplace);
    BindButton(BtnAdd, ActAdd);
    BindButton(BtnDel, ActDel);
    connect(ActDir, &QAction::triggered, this, &TFormDirs::ActDirExecute);
    connect(ActReplace, &QAction::triggered, this, &TFormDirs::ActReplaceExecute);
    connect(ActAdd, &QAction::triggered, this, &TFormDirs::ActAddExecute);
    connect(ActDel, &QAction::triggered, this, &TFormDirs::ActDelExecute);
    connect(BtnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ListDir, &QListWidget::itemSelectionChanged, this, &TFormDirs::Synchronise);
    connect(EditDir, &QLineEdit::textChanged, this, &TFormDirs::UpdateActions);

    browseFolder = [](QWidget* owner, const QString& start) {
        return QFileDialog::getExistingDirectory(owner, QString(), start,
                                                 QFileDialog::ShowDirsOnly);
    };

    ApplyFormLook(this, settings);
    UpdateActions();
}

void TFormDirs::SetList(const QString& text)
{
    for (const QString& entry : splitDirList(text)) {
        const QString dir = TrimText(entry);
        if (!dir.isEmpty())
            ListDir->addItem(dir);
    }
    UpdateActions();
}

QString TFormDirs::GetList() const
{
    QString text;
    for (int i = 0; i < ListDir->count(); ++i)
        text += ListDir->item(i)->text() + u';';
    return text;
}

bool TFormDirs::Contains(const QString& text) const
{
    for (int i = 0; i < ListDir->count(); ++i)
        if (ListDir->item(i)->text() == text)
            return true;
    return false;
}

void TFormDirs::showEvent(QShowEvent* event)
{
    if (!m_shown) {
        m_shown = true;
        btnDir->setFixedHeight(EditDir->sizeHint().height());
        if (ListDir->count() > 0)
            ListDir->setCurrentRow(0);
        Synchronise();
    }
    QDialog::showEvent(event);
}

void TFormDirs::Synchronise()
{
    const QList<QListWidgetItem*> selected = ListDir->selectedItems();
    m_index = selected.isEmpty() ? -1 : ListDir->row(selected.first());
    EditDir->setText(m_index < 0 ? QString() : ListDir->item(m_index)->text());
    UpdateActions();
}

void TFormDirs::UpdateActions()
{
    const QString text = EditDir->text();
    ActAdd->setEnabled(!text.isEmpty() && !Contains(text));
    ActReplace->setEnabled(m_index >= 0 && m_index < ListDir->count() &&
                           text != ListDir->item(m_index)->text());
    ActDel->setEnabled(m_index >= 0);
}

QString TFormDirs::NormaliseEdit()
{
    const QString dir = platform::IncludeTrailingPathDelimiter(TrimText(EditDir->text()));
    if (dir != EditDir->text())
        EditDir->setText(dir);
    return dir;
}

void TFormDirs::ActAddExecute()
{
    const QString dir = NormaliseEdit();
    if (dir.isEmpty() || Contains(dir))
        return;
    ListDir->addItem(dir);
    ListDir->setCurrentRow(ListDir->count() - 1);
    Synchronise();
}

void TFormDirs::ActReplaceExecute()
{
    const int index = m_index;
    const QString dir = NormaliseEdit();
    if (index < 0 || dir.isEmpty() || Contains(dir))
        return;
    ListDir->item(index)->setText(dir);
    UpdateActions();
}

void TFormDirs::ActDelExecute()
{
    int index = m_index;
    if (index < 0)
        return;
    ListDir->setFocus();
    {
        // The rows change below; the selection is put right afterwards in one step.
        const QSignalBlocker block(ListDir);
        delete ListDir->takeItem(index);
        if (index >= ListDir->count())
            --index;
        ListDir->clearSelection();
        if (index >= 0)
            ListDir->setCurrentRow(index);
    }
    Synchronise();
}

void TFormDirs::ActDirExecute()
{
    const QString start = TrimText(EditDir->text());
    const QString chosen = browseFolder(this, QFileInfo(start).isDir() ? start : QString());
    if (!chosen.isEmpty())
        EditDir->setText(QDir::toNativeSeparators(chosen));
}

void TFormDirs::DropPaths(const QStringList& paths)
{
    if (paths.isEmpty() || paths.first().isEmpty() || !QFileInfo(paths.first()).isDir())
        return;
    EditDir->setText(platform::IncludeTrailingPathDelimiter(paths.first()));
}

bool TFormDirs::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != GroupDir)
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
        DropPaths(paths);
        drop->acceptProposedAction();
        return true;
    }
    default:
        return QDialog::eventFilter(watched, event);
    }
}
