#include "gui/config/OrientationEditor.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/report/CodePages.h"
#include "core/report/OrientationMemory.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"

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
    // The item selected when the editor opened; -1 for none.
    int startIndex() const { return m_startIndex; }
    void setStartIndex(int index) { m_startIndex = index; }

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
    int m_startIndex = -1;
};

// Typing searches the titles, whichever cell of the row is current.
class LstTree : public QTreeView
{
public:
    using QTreeView::QTreeView;

    void keyboardSearch(const QString& search) override
    {
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.column() != OrientationEditor::ColTitle)
            selectionModel()->setCurrentIndex(current.siblingAtColumn(OrientationEditor::ColTitle),
                                              QItemSelectionModel::NoUpdate);
        QTreeView::keyboardSearch(search);
    }
};

} // namespace

// The list as rows of title and orientation name. It reads the list as it is at each request;
// every change made through the editor goes through here so that the view hears of it.
class OrientationModel : public QAbstractTableModel
{
public:
    OrientationModel(OrientationMemory& list, QObject* parent)
        : QAbstractTableModel(parent), m_list(list)
    {}

    // The list may have changed since the view last asked: rows are read again.
    void reload()
    {
        beginResetModel();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_list.count());
    }

    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : OrientationEditor::ColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
            return {};
        const Orientation& entry = m_list.entries().at(index.row());
        if (index.column() == OrientationEditor::ColTitle) {
            if (role == Qt::DisplayRole || role == Qt::EditRole)
                return cp1250ToUnicode(entry.title);
        } else if (role == Qt::DisplayRole) {
            return orientationName(entry.orientation);
        } else if (role == Qt::EditRole) {
            return int(entry.orientation);
        }
        return {};
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (role != Qt::EditRole || index.column() != OrientationEditor::ColOrientation ||
            !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
            return false;
        bool ok = false;
        const int code = value.toInt(&ok);
        if (!ok || code < 0 || code >= kOrientationCodes)
            return false;
        m_list.setOrientation(index.row(), quint8(code));
        emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        Qt::ItemFlags f = QAbstractTableModel::flags(index);
        if (index.isValid() && index.column() == OrientationEditor::ColOrientation)
            f |= Qt::ItemIsEditable;
        return f;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        switch (section) {
        case OrientationEditor::ColTitle:
            return QStringLiteral("Sestava");
        case OrientationEditor::ColOrientation:
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
            m_list.remove(row);
        endRemoveRows();
        return true;
    }

private:
    OrientationMemory& m_list;
};

// ---------------------------------------------------------------------------------------------

OrientationDelegate::OrientationDelegate(QObject* parent) : QStyledItemDelegate(parent)
{}

QWidget* OrientationDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                           const QModelIndex&) const
{
    auto* combo = new OrientCombo(parent);
    combo->setObjectName(QStringLiteral("orientationCombo"));
    combo->setEditable(false);
    for (int code = 0; code < kOrientationCodes; ++code)
        combo->addItem(orientationName(code));
    // A choice ends the edit at once, whether or not it differs from the start.
    auto* self = const_cast<OrientationDelegate*>(this);
    connect(combo, &QComboBox::activated, self, [self, combo](int) {
        emit self->commitData(combo);
        emit self->closeEditor(combo);
    });
    return combo;
}

void OrientationDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* combo = static_cast<OrientCombo*>(editor);
    const int code = index.data(Qt::EditRole).toInt();
    // An unusable code matches no item: nothing is chosen.
    combo->setStartIndex(code >= 0 && code < combo->count() ? code : -1);
    combo->setCurrentIndex(combo->startIndex());
}

void OrientationDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                       const QModelIndex& index) const
{
    const auto* combo = static_cast<const OrientCombo*>(editor);
    const int chosen = combo->currentIndex();
    if (chosen >= 0 && chosen != combo->startIndex())
        model->setData(index, chosen, Qt::EditRole);
}

void OrientationDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                               const QModelIndex&) const
{
    QRect r = option.rect;
    r.setWidth(std::max(r.width(), kMinEditorWidth));
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

OrientationEditor::OrientationEditor(OrientationMemory& list, const AppSettings& settings,
                                     QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_list(list)
{
    setObjectName(QStringLiteral("FormLstEdit"));
    setWindowTitle(QStringLiteral("Orientace sestav"));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kClientWidth, kClientHeight);

    m_model = new OrientationModel(m_list, this);

    m_ui.tree = new LstTree(this);
    m_ui.tree->setObjectName(QStringLiteral("tree"));
    m_ui.tree->setRootIsDecorated(false);
    m_ui.tree->setItemsExpandable(false);
    m_ui.tree->setUniformRowHeights(true);
    m_ui.tree->setAllColumnsShowFocus(true);
    m_ui.tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ui.tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    // A double click edits the orientation cell, the only editable one; F2 is handled below so
    // that it edits the row's orientation whichever cell is current.
    m_ui.tree->setEditTriggers(QAbstractItemView::DoubleClicked);
    m_ui.tree->setItemDelegateForColumn(ColOrientation, new OrientationDelegate(m_ui.tree));
    m_ui.tree->setModel(m_model);
    m_ui.tree->header()->setSectionsMovable(false);
    m_ui.tree->header()->setStretchLastSection(false);
    m_ui.tree->header()->setSectionResizeMode(QHeaderView::Interactive);
    m_ui.tree->setColumnWidth(ColTitle, kTitleWidth);
    m_ui.tree->setColumnWidth(ColOrientation, kOrientationWidth);
    m_ui.tree->installEventFilter(this);

    m_ui.hintLabel = new QLabel(
        QStringLiteral("Orientaci sestavy změníte poklepáním nebo klávesou F2 na sloupci "
                       "Orientace u vybrané sestavy. Klávesou Del vymažete nastavení orientace "
                       "vybrané sestavy."),
        this);
    m_ui.hintLabel->setObjectName(QStringLiteral("hintLabel"));
    m_ui.hintLabel->setWordWrap(true);
    m_ui.hintLabel->setTextFormat(Qt::PlainText);

    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(8, 8, 8, 8);
    form->setSpacing(6);
    form->addWidget(m_ui.tree, 1);
    form->addWidget(m_ui.hintLabel);

    createWidgets(settings);
}

void OrientationEditor::createWidgets(const AppSettings& settings)
{
    applyFormLook(this, settings);
    restoreWindowSize(this);
}

void OrientationEditor::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        firstShow();
    }
}

void OrientationEditor::firstShow()
{
    m_model->reload();
    loadColumnWidths();
    if (m_model->rowCount() > 0)
        m_ui.tree->selectionModel()->setCurrentIndex(m_model->index(0, ColTitle),
                                                     QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
    m_ui.tree->setFocus();
}

bool OrientationEditor::eventFilter(QObject* watched, QEvent* event)
{
    // Keys an open editor leaves alone travel on to the tree: only the tree's own count.
    if (watched == m_ui.tree && event->type() == QEvent::KeyPress && m_ui.tree->hasFocus()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers held =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        if (key->key() == Qt::Key_F2) {
            editCurrent();
            return true;
        }
        if (key->key() == Qt::Key_Delete && held == Qt::NoModifier) {
            deleteCurrent();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void OrientationEditor::editCurrent()
{
    const QModelIndex current = m_ui.tree->currentIndex();
    if (current.isValid())
        m_ui.tree->edit(current.siblingAtColumn(ColOrientation));
}

void OrientationEditor::deleteCurrent()
{
    const QModelIndex current = m_ui.tree->currentIndex();
    if (!current.isValid())
        return;
    const int row = current.row();
    const QString title = cp1250ToUnicode(m_list.entries().at(row).title);
    const MsgButton answer =
        messageDlg(QStringLiteral("Smazat nastavení orientace sestavy \"%1\"? ").arg(title),
                   MsgKind::Confirmation, {MsgButton::Yes, MsgButton::No}, windowTitle(), this);
    if (answer != MsgButton::Yes)
        return;
    // Only the title the user was asked about is removed, should the list have changed while
    // the question was open.
    if (row >= m_model->rowCount() || cp1250ToUnicode(m_list.entries().at(row).title) != title)
        return;
    m_model->removeRow(row);
    const int rows = m_model->rowCount();
    if (rows > 0)
        m_ui.tree->selectionModel()->setCurrentIndex(
            m_model->index(std::min(row, rows - 1), ColTitle),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void OrientationEditor::loadColumnWidths()
{
    const std::unique_ptr<RegistryIni> ini = openSettings();
    const QHeaderView* header = m_ui.tree->header();
    const int narrowest = header->minimumSectionSize();
    for (int column = 0; column < ColumnCount; ++column) {
        // The column's title is always readable, whatever the font: a default or remembered
        // width narrower than the title (remembered with a smaller font, say) is widened to it.
        const int titleWidth = header->sectionSizeHint(column);
        const int current = std::max(m_ui.tree->columnWidth(column), titleWidth);
        const int width =
            ini->readInteger(kLastUsed, columnWidthName(column), current).value_or(current);
        // A width the header could never have given (say, 0 from a hand-edited registry) would
        // hide the column for good; the default stays instead.
        m_ui.tree->setColumnWidth(column,
                                  width >= narrowest ? std::max(width, titleWidth) : current);
    }
}

void OrientationEditor::saveColumnWidths() const
{
    const std::unique_ptr<RegistryIni> ini = openSettings();
    for (int column = 0; column < ColumnCount; ++column)
        if (!ini->writeInteger(kLastUsed, columnWidthName(column), m_ui.tree->columnWidth(column)))
            return;
}

void OrientationEditor::done(int result)
{
    // A window that was never shown has neither restored nor changed anything worth keeping;
    // saving then would overwrite the remembered widths with the defaults.
    if (m_shown) {
        saveColumnWidths();
        saveWindowSize(this);
    }
    QDialog::done(result);
}
