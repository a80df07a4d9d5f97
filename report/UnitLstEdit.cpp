#include "report/UnitLstEdit.h"

#include "config/AppSettings.h"
#include "config/FormLook.h"
#include "config/MvRegIni.h"
#include "core/MessageDlg.h"
#include "report/CodePages.h"
#include "report/UnitOrient.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kClientWidth = 433;
constexpr int kClientHeight = 215;
constexpr int kMinWidth = 404;
constexpr int kMinHeight = 216;
constexpr int kTitleWidth = 300;
constexpr int kOrientationWidth = 80;
constexpr int kOrientationCodes = 3; // 0 by width, 1 portrait, 2 landscape

const QString kLastUsed = QStringLiteral("LastUsed");

QString columnWidthName(int column)
{
    return QStringLiteral("FormLstEdit.Columns.%1.Width").arg(column);
}

// The editor's drop-down list; it remembers the item chosen when the edit started.
class OrientCombo : public QComboBox
{
public:
    using QComboBox::QComboBox;
    int startIndex = -1;

protected:
    void showEvent(QShowEvent* event) override
    {
        QComboBox::showEvent(event);
        if (m_popupAsked)
            return;
        m_popupAsked = true;
        // Dropped down once the view has placed, shown and focused the editor. The timer is
        // bound to the editor, so an edit that ends first simply drops the request; a window
        // that is not the active one (nobody is looking) gets no popup grabbing its input.
        QTimer::singleShot(0, this, [this] {
            if (isVisible() && hasFocus() && window()->isActiveWindow())
                showPopup();
        });
    }

private:
    bool m_popupAsked = false;
};

// Typing searches the titles, whichever cell of the row is current.
class LstTree : public QTreeView
{
public:
    using QTreeView::QTreeView;

    void keyboardSearch(const QString& search) override
    {
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.column() != TFormLstEdit::ColTitle)
            selectionModel()->setCurrentIndex(current.siblingAtColumn(TFormLstEdit::ColTitle),
                                              QItemSelectionModel::NoUpdate);
        QTreeView::keyboardSearch(search);
    }
};

} // namespace

// The list as rows of title and orientation name. It reads the list as it is at each request;
// every change made through the editor goes through here so that the view hears of it.
class TLstListModel : public QAbstractTableModel
{
public:
    TLstListModel(TLstList& list, QObject* parent) : QAbstractTableModel(parent), m_list(list) {}

    // The list may have changed since the view last asked: rows are read again.
    void Reload()
    {
        beginResetModel();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_list.Count());
    }

    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : TFormLstEdit::ColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
            return {};
        const TOrient& entry = m_list.Entries().at(index.row());
        if (index.column() == TFormLstEdit::ColTitle) {
            if (role == Qt::DisplayRole || role == Qt::EditRole)
                return Cp1250ToUnicode(entry.Title);
        } else if (role == Qt::DisplayRole) {
            return TOrientName(entry.Orientation);
        } else if (role == Qt::EditRole) {
            return int(entry.Orientation);
        }
        return {};
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (role != Qt::EditRole || index.column() != TFormLstEdit::ColOrientation ||
            !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
            return false;
        bool ok = false;
        const int code = value.toInt(&ok);
        if (!ok || code < 0 || code >= kOrientationCodes)
            return false;
        m_list.SetOrientation(index.row(), quint8(code));
        emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        Qt::ItemFlags f = QAbstractTableModel::flags(index);
        if (index.isValid() && index.column() == TFormLstEdit::ColOrientation)
            f |= Qt::ItemIsEditable;
        return f;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        switch (section) {
        case TFormLstEdit::ColTitle:
            return QStringLiteral("Sestava");
        case TFormLstEdit::ColOrientation:
            return QStringLiteral("Orientace");
        default:
            return {};
        }
    }

    bool removeRows(int row, int count, const QModelIndex& parent = {}) override
    {
        if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount())
            return false;
        beginRemoveRows(parent, row, row + count - 1);
        for (int i = 0; i < count; ++i)
            m_list.Remove(row);
        endRemoveRows();
        return true;
    }

private:
    TLstList& m_list;
};

// ---------------------------------------------------------------------------------------------

TComboEditLink::TComboEditLink(QObject* parent) : QStyledItemDelegate(parent)
{}

QWidget* TComboEditLink::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                      const QModelIndex&) const
{
    auto* combo = new OrientCombo(parent);
    combo->setObjectName(QStringLiteral("ComboEditLink"));
    combo->setEditable(false);
    for (int code = 0; code < kOrientationCodes; ++code)
        combo->addItem(TOrientName(code));
    // A choice ends the edit at once, whether or not it differs from the start.
    auto* self = const_cast<TComboEditLink*>(this);
    connect(combo, &QComboBox::activated, self, [self, combo](int) {
        emit self->commitData(combo);
        emit self->closeEditor(combo);
    });
    return combo;
}

void TComboEditLink::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* combo = static_cast<OrientCombo*>(editor);
    const int code = index.data(Qt::EditRole).toInt();
    // An unusable code matches no item: nothing is chosen.
    combo->startIndex = code >= 0 && code < combo->count() ? code : -1;
    combo->setCurrentIndex(combo->startIndex);
}

void TComboEditLink::setModelData(QWidget* editor, QAbstractItemModel* model,
                                  const QModelIndex& index) const
{
    const auto* combo = static_cast<const OrientCombo*>(editor);
    const int chosen = combo->currentIndex();
    if (chosen >= 0 && chosen != combo->startIndex)
        model->setData(index, chosen, Qt::EditRole);
}

void TComboEditLink::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                          const QModelIndex&) const
{
    QRect r = option.rect;
    r.setWidth(std::max(r.width(), MinEditorWidth));
    // Kept inside the viewport: pulled back from its right edge, then cut at its left edge.
    if (const QWidget* viewport = editor->parentWidget()) {
        const QRect area = viewport->rect();
        if (r.right() > area.right())
            r.moveRight(area.right());
        if (r.left() < area.left())
            r.setLeft(area.left());
    }
    editor->setGeometry(r);
}

// ---------------------------------------------------------------------------------------------

TFormLstEdit::TFormLstEdit(TLstList& list, const TAppSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_list(list)
{
    setObjectName(QStringLiteral("FormLstEdit"));
    setWindowTitle(QStringLiteral("Orientace sestav"));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kClientWidth, kClientHeight);

    m_model = new TLstListModel(m_list, this);

    MyTree = new LstTree(this);
    MyTree->setObjectName(QStringLiteral("MyTree"));
    MyTree->setRootIsDecorated(false);
    MyTree->setItemsExpandable(false);
    MyTree->setUniformRowHeights(true);
    MyTree->setAllColumnsShowFocus(true);
    MyTree->setSelectionMode(QAbstractItemView::SingleSelection);
    MyTree->setSelectionBehavior(QAbstractItemView::SelectRows);
    // A double click edits the orientation cell, the only editable one; F2 is handled below so
    // that it edits the row's orientation whichever cell is current.
    MyTree->setEditTriggers(QAbstractItemView::DoubleClicked);
    MyTree->setItemDelegateForColumn(ColOrientation, new TComboEditLink(MyTree));
    MyTree->setModel(m_model);
    MyTree->header()->setSectionsMovable(false);
    MyTree->header()->setStretchLastSection(false);
    MyTree->header()->setSectionResizeMode(QHeaderView::Interactive);
    MyTree->setColumnWidth(ColTitle, kTitleWidth);
    MyTree->setColumnWidth(ColOrientation, kOrientationWidth);
    MyTree->installEventFilter(this);

    Label1 = new QLabel(
        QStringLiteral("Orientaci sestavy změníte poklepáním nebo klávesou F2 na sloupci "
                       "Orientace u vybrané sestavy. Klávesou Del vymažete nastavení orientace "
                       "vybrané sestavy."),
        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    Label1->setTextFormat(Qt::PlainText);

    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(8, 8, 8, 8);
    form->setSpacing(6);
    form->addWidget(MyTree, 1);
    form->addWidget(Label1);

    FormCreate(settings);
}

void TFormLstEdit::FormCreate(const TAppSettings& settings)
{
    ApplyFormLook(this, settings);
    RestoreWindowSize(this);
}

void TFormLstEdit::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormFirstShow();
    }
}

void TFormLstEdit::FormFirstShow()
{
    m_model->Reload();
    LoadColumnWidths();
    if (m_model->rowCount() > 0)
        MyTree->selectionModel()->setCurrentIndex(m_model->index(0, ColTitle),
                                                  QItemSelectionModel::ClearAndSelect |
                                                      QItemSelectionModel::Rows);
    MyTree->setFocus();
}

bool TFormLstEdit::eventFilter(QObject* watched, QEvent* event)
{
    // Keys an open editor leaves alone travel on to the tree: only the tree's own count.
    if (watched == MyTree && event->type() == QEvent::KeyPress && MyTree->hasFocus()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers held =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        if (key->key() == Qt::Key_F2) {
            EditCurrent();
            return true;
        }
        if (key->key() == Qt::Key_Delete && held == Qt::NoModifier) {
            DeleteCurrent();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormLstEdit::EditCurrent()
{
    const QModelIndex current = MyTree->currentIndex();
    if (current.isValid())
        MyTree->edit(current.siblingAtColumn(ColOrientation));
}

void TFormLstEdit::DeleteCurrent()
{
    const QModelIndex current = MyTree->currentIndex();
    if (!current.isValid())
        return;
    const int row = current.row();
    const QString title = Cp1250ToUnicode(m_list.Entries().at(row).Title);
    const MsgButton answer =
        MessageDlg(QStringLiteral("Smazat nastavení orientace sestavy \"%1\"? ").arg(title),
                   MsgKind::Confirmation, {MsgButton::Yes, MsgButton::No}, windowTitle(), this);
    if (answer != MsgButton::Yes)
        return;
    // Only the title the user was asked about is removed, should the list have changed while
    // the question was open.
    if (row >= m_model->rowCount() || Cp1250ToUnicode(m_list.Entries().at(row).Title) != title)
        return;
    m_model->removeRow(row);
    const int rows = m_model->rowCount();
    if (rows > 0)
        MyTree->selectionModel()->setCurrentIndex(m_model->index(std::min(row, rows - 1), ColTitle),
                                                  QItemSelectionModel::ClearAndSelect |
                                                      QItemSelectionModel::Rows);
}

void TFormLstEdit::LoadColumnWidths()
{
    const std::unique_ptr<TMvRegIni> ini = OpenSettings();
    const int narrowest = MyTree->header()->minimumSectionSize();
    for (int column = 0; column < ColumnCount; ++column) {
        const int current = MyTree->columnWidth(column);
        const int width =
            ini->ReadInteger(kLastUsed, columnWidthName(column), current).value_or(current);
        // A width the header could never have given (say, 0 from a hand-edited registry) would
        // hide the column for good; the default stays instead.
        MyTree->setColumnWidth(column, width >= narrowest ? width : current);
    }
}

void TFormLstEdit::SaveColumnWidths() const
{
    const std::unique_ptr<TMvRegIni> ini = OpenSettings();
    for (int column = 0; column < ColumnCount; ++column)
        if (!ini->WriteInteger(kLastUsed, columnWidthName(column), MyTree->columnWidth(column)))
            return;
}

void TFormLstEdit::done(int result)
{
    // A window that was never shown has neither restored nor changed anything worth keeping;
    // saving then would overwrite the remembered widths with the defaults.
    if (m_shown) {
        SaveColumnWidths();
        SaveWindowSize(this);
    }
    QDialog::done(result);
}
