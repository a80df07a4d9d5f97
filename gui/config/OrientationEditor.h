#pragma once

#include <QDialog>
#include <QStyledItemDelegate>

class QLabel;
class QTreeView;
class OrientationMemory;
class OrientationModel;
struct AppSettings;

// The in-place editor of an orientation cell: a drop-down list of "výchozí", "na výšku" and
// "na šířku", whose item index is the orientation code. It opens with the entry's code chosen
// (nothing for an unusable code) and its list already dropped down; choosing an item ends the
// edit at once. Only an item other than the one at the start is written back, so leaving the
// editor without a choice keeps whatever code the entry had.
class OrientationDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    // The narrowest the editor gets, however narrow the column.
    static constexpr int kMinEditorWidth = 30;

    explicit OrientationDelegate(QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;
};

// The remembered orientations of report titles, one row per title, where the user changes an
// orientation or forgets a title. Changes reach the in-memory list at once; saving the list is
// left to its owner.
//
// F2 or a double click on the "Orientace" cell edits the orientation of the row, Del forgets the
// row's title after a question, Esc closes the window. Column widths and the window size are
// remembered under "LastUsed".
class OrientationEditor : public QDialog
{
    Q_OBJECT
public:
    enum Column
    {
        ColTitle = 0,
        ColOrientation = 1,
        ColumnCount = 2
    };

    OrientationEditor(OrientationMemory& list, const AppSettings& settings,
                      QWidget* parent = nullptr);

    // The widgets, as the window lays them out.
    struct Widgets
    {
        QTreeView* tree = nullptr;
        QLabel* hintLabel = nullptr;
    };
    const Widgets& ui() const { return m_ui; }

public slots:
    // Every way of closing ends here: the column widths and the window size are saved.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Widgets m_ui{};
    void createWidgets(const AppSettings& settings);
    void firstShow();
    void editCurrent();
    void deleteCurrent();
    void loadColumnWidths();
    void saveColumnWidths() const;

    OrientationMemory& m_list;
    OrientationModel* m_model = nullptr;
    bool m_shown = false;
};
