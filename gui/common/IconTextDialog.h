#pragma once

#include <QDialog>
#include <QStyle>

class QFrame;
class QLabel;
class QPushButton;

// A fixed-size dialog with a standard icon at the top left, a word-wrapped plain text beside it,
// a horizontal line below the text and a row of 75 × 25 buttons under the line: the print error
// dialog and the orientation question share this frame. A caption or font that needs more room
// widens its button, and the dialog grows to keep the row's gaps and margins.
class IconTextDialog : public QDialog
{
    Q_OBJECT
public:
    struct Frame
    {
        QString name;
        QString title;
        QSize clientSize;
        int textHeight = 0;
        int bevelTop = 0;
        QStyle::StandardPixmap icon = QStyle::SP_MessageBoxInformation;
    };

    IconTextDialog(const Frame& frame, QWidget* parent);

    // The size of the icon drawn at the left of the text.
    int iconSize() const;

    QLabel* textLabel() const { return m_textLabel; }
    // The line between the text and the row of buttons.
    QFrame* separator() const { return m_separator; }

protected:
    // Shows `text` as it is (never as markup) beside the icon: left of it the icon and a gap,
    // right of it a margin of 8.
    void setText(const QString& text);
    // A button of the row, at `left` on the row's line of the frame. Buttons are added in tab
    // order, which need not be their order on the row.
    QPushButton* addButton(const QString& name, int left, const QString& caption = {},
                           const QString& hint = {});
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Sizes the buttons to their captions, the dialog to the row and the text, and places all.
    void relayout();

    struct RowButton
    {
        QPushButton* button;
        int left; // in the frame
    };
    QLabel* m_textLabel = nullptr;
    QFrame* m_separator = nullptr;
    QList<RowButton> m_row;
    QStyle::StandardPixmap m_icon;
    QSize m_frameSize;
    int m_textHeight;
    int m_bevelTop;
};
