#include "gui/browser/FindTextDialog.h"

#include "gui/common/FormLook.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

FindTextDialog::FindTextDialog(QWidget* parent) : QDialog(parent, kFixedDialogFlags)
{
    setObjectName(QStringLiteral("FormFindText"));
    setWindowTitle(QStringLiteral("Najít"));

    auto* label = new QLabel(QStringLiteral("&Najít:"), this);
    m_ui.textEdit = new QLineEdit(this);
    m_ui.textEdit->setObjectName(QStringLiteral("textEdit"));
    m_ui.textEdit->setMaxLength(200);
    m_ui.textEdit->setToolTip(QStringLiteral("Text, který chcete v sestavě najít"));
    label->setBuddy(m_ui.textEdit);

    auto* direction = new QGroupBox(QStringLiteral(" Směr vyhledávání "), this);
    direction->setToolTip(QStringLiteral("Určuje směr, kterým se bude v sestavě hledat.\n"
                                         "Hledání probíhá po řádcích od místa kurzoru."));
    m_ui.upRadio = new QRadioButton(QStringLiteral("Na&horu"), direction);
    m_ui.upRadio->setObjectName(QStringLiteral("upRadio"));
    m_ui.downRadio = new QRadioButton(QStringLiteral("D&olů"), direction);
    m_ui.downRadio->setObjectName(QStringLiteral("downRadio"));
    m_ui.downRadio->setChecked(true);
    auto* columns = new QHBoxLayout(direction);
    columns->addWidget(m_ui.upRadio);
    columns->addWidget(m_ui.downRadio);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* find =
        buttons->addButton(QStringLiteral("Najít &další"), QDialogButtonBox::AcceptRole);
    find->setObjectName(QStringLiteral("findButton"));
    find->setDefault(true);
    find->setToolTip(QStringLiteral("Vyhledá v sestavě text, zadaný v poli Najít."));
    buttons->addButton(QStringLiteral("Storno"), QDialogButtonBox::RejectRole);
    buttons->setOrientation(Qt::Vertical);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    auto* field = new QHBoxLayout;
    field->addWidget(label);
    field->addWidget(m_ui.textEdit, 1);
    grid->addLayout(field, 0, 0);
    grid->addWidget(direction, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("Velká a malá písmena se nerozlišují"), this), 2, 0);
    grid->addWidget(buttons, 0, 1, 3, 1, Qt::AlignTop);
    setFixedSize(sizeHint().expandedTo(QSize(360, 0)));
}

QString FindTextDialog::text() const
{
    return m_ui.textEdit->text();
}

bool FindTextDialog::upwards() const
{
    return m_ui.upRadio->isChecked();
}

void FindTextDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_ui.textEdit->selectAll();
    m_ui.textEdit->setFocus();
    if (parentWidget()) {
        const QRect owner = parentWidget()->window()->frameGeometry();
        move(owner.center() - rect().center());
    }
}
