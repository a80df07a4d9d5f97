#pragma once

#include <QDialog>

class QLineEdit;
class QRadioButton;

// Asks what to find in a report and in which direction. A viewer keeps one, so that it shows the
// previous text and direction again.
class FindTextDialog : public QDialog
{
    Q_OBJECT
public:
    explicit FindTextDialog(QWidget* parent);

    QString text() const;
    bool upwards() const;

    struct Widgets
    {
        QLineEdit* textEdit = nullptr;
        QRadioButton* upRadio = nullptr;
        QRadioButton* downRadio = nullptr;
    };
    const Widgets& ui() const { return m_ui; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    Widgets m_ui;
};
