#pragma once

#include <QDialog>
#include <QStyle>

#include <vector>

class QFrame;
class QLabel;
class QPushButton;

// A fixed-size dialog with a standard icon at the top left, a word-wrapped plain text beside it,
// a horizontal line below the text and a row of 75 × 25 buttons under the line: the print error
// dialog and the orientation question share this frame. A larger font widens the buttons for
// their captions (and the dialog with them), a longer text makes the dialog taller.
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
    // A button of the row, at `left` on the row's line (further right when a button before it
    // needs more room for its caption).
    QPushButton* addButton(const QString& name, int left, const QString& caption = {},
                           const QString& hint = {});
    // Places the text, the line and the buttons for the current font, captions and text, and
    // sizes the dialog around them; done again whenever it is shown or its font changes.
    void layOut();
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct PlacedButton
    {
        QPushButton* button;
        int left;
    };
    QLabel* m_textLabel = nullptr;
    QFrame* m_separator = nullptr;
    QStyle::StandardPixmap m_icon;
    QSize m_frameSize;
    int m_textHeight;
    int m_bevelTop;
    std::vector<PlacedButton> m_buttons; // by their places in the row, left to right
};
