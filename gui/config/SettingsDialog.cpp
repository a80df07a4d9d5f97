#include "gui/config/SettingsDialog.h"

#include "core/config/AppSettings.h"
#include "core/config/PrinterFonts.h"
#include "core/config/RegistryIni.h"
#include "core/platform/Autostart.h"
#include "core/platform/CommandLine.h"
#include "core/platform/FileInfo.h"
#include "core/platform/PrinterCatalog.h"
#include "core/report/OrientationMemory.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "gui/config/OrientationEditor.h"
#include "gui/config/SpoolDirsDialog.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kNoPrinter = QStringLiteral("[žádná]");
constexpr int kMinPortrait = 80;
constexpr int kMaxPortrait = 233;

// A whole decimal number, blanks around it allowed.
std::optional<int> wholeNumber(const QString& text)
{
    return parseDecimal(trimText(text));
}

QLabel* buddyLabel(const QString& caption, QWidget* buddy)
{
    auto* label = new QLabel(caption, buddy->parentWidget());
    label->setBuddy(buddy);
    return label;
}

QToolButton* ellipsisButton(QAction* action, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    bindButton(button, action);
    return button;
}

QCheckBox* checkBox(const QString& caption, const QString& hint, QWidget* parent)
{
    auto* box = new QCheckBox(caption, parent);
    box->setToolTip(hint);
    return box;
}

QSpinBox* marginField(QWidget* parent)
{
    auto* spin = new QSpinBox(parent);
    spin->setSuffix(QStringLiteral(" mm"));
    spin->setAlignment(Qt::AlignCenter);
    spin->setSingleStep(1);
    spin->setMinimum(0);
    return spin;
}

} // namespace

WidthEdit::WidthEdit(QWidget* parent) : QAbstractSpinBox(parent)
{
    setAlignment(Qt::AlignCenter);
}

void WidthEdit::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
}

void WidthEdit::setMaxLength(int length)
{
    lineEdit()->setMaxLength(length);
}

int WidthEdit::value() const
{
    return std::clamp(wholeNumber(text()).value_or(m_minimum), m_minimum, m_maximum);
}

void WidthEdit::setValue(int value)
{
    setText(QString::number(value));
}

void WidthEdit::setText(const QString& text)
{
    lineEdit()->setText(text);
}

void WidthEdit::stepBy(int steps)
{
    setValue(std::clamp(value() + steps, m_minimum, m_maximum));
}

QAbstractSpinBox::StepEnabled WidthEdit::stepEnabled() const
{
    if (!isEnabled())
        return StepNone;
    const int v = value();
    StepEnabled enabled = StepNone;
    if (v > m_minimum)
        enabled |= StepDownEnabled;
    if (v < m_maximum)
        enabled |= StepUpEnabled;
    return enabled;
}

QValidator::State WidthEdit::validate(QString& input, int& /*pos*/) const
{
    // Anything may be typed; the text is corrected when the field is left.
    return input.size() <= lineEdit()->maxLength() ? QValidator::Acceptable : QValidator::Invalid;
}

QString setupHelpTopic(int tabNumber)
{
    // The anchors of the tabs from the second on; the first tab has the page's top.
    static const char* const kAnchors[] = {"SetupOrient", "SetupStranka", "SetupObecne",
                                           "SetupInternet"};
    const bool anchored = tabNumber >= 2 && tabNumber < 2 + int(std::size(kAnchors));
    return QStringLiteral("setup.htm#") +
           (anchored ? QLatin1String(kAnchors[tabNumber - 2]) : QLatin1String());
}

SettingsDialog::SettingsDialog(AppSettings& settings, PrinterCatalog& printers,
                               SetupServices services, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_printers(printers), m_services(std::move(services))
{
    setObjectName(QStringLiteral("FormSetup"));
    setWindowTitle(QStringLiteral("Nastavení"));
    setWindowFlags(kFixedDialogFlags);

    if (!m_services.fontNames)
        m_services.fontNames = [&printers] {
            return printerFontNames(printers);
        };
    if (!m_services.printerSetup)
        m_services.printerSetup = [](QPrinter& printer, QWidget* owner) {
            QPageSetupDialog dialog(&printer, owner);
            return dialog.exec() == QDialog::Accepted;
        };
    if (!m_services.documentInProgress)
        m_services.documentInProgress = [] {
            return false;
        };
    if (!m_services.orientationEditor)
        m_services.orientationEditor = [&settings](QWidget* owner) {
            OrientationEditor editor(orientationMemory(), settings, owner);
            editor.exec();
        };
    if (!m_services.showHelp)
        m_services.showHelp = [](QWidget*, const QString&) {
        };
    if (!m_services.closeHelp)
        m_services.closeHelp = [] {
        };
    if (!m_services.directoriesDialog)
        m_services.directoriesDialog = [&settings](QWidget* owner, QString& directories) {
            SpoolDirsDialog dialog(settings, owner);
            dialog.setList(directories);
            if (dialog.exec() != QDialog::Accepted)
                return false;
            directories = dialog.list();
            return true;
        };
    if (m_services.programPath.isEmpty())
        m_services.programPath = platform::programFilePath();

    m_ui.dirAction = new QAction(QStringLiteral("..."), this);
    m_ui.dirAction->setToolTip(QStringLiteral("Vyhledání a přidání adresáře se sestavami."));
    m_ui.printerAction = new QAction(QStringLiteral("..."), this);
    m_ui.printerAction->setToolTip(
        QStringLiteral("Nastavení tiskárny, na kterou budou tisknuty sestavy."));
    m_ui.orientAction = new QAction(QStringLiteral("N&astavení"), this);
    m_ui.orientAction->setToolTip(
        QStringLiteral("Seznam vytištěných sestav a jejich orientací s možností úpravy."));
    m_ui.helpAction = new QAction(QStringLiteral("Nápověda"), this);
    m_ui.helpAction->setShortcut(Qt::Key_F1);
    m_ui.helpAction->setShortcutContext(Qt::WindowShortcut);
    addAction(m_ui.helpAction);

    m_ui.tabs = new QTabWidget(this);
    // Every tab stays in sight at any font size: the dialog widens to the tabs rather than
    // hiding the last ones behind scroll arrows.
    m_ui.tabs->setUsesScrollButtons(false);
    m_ui.tabs->addTab(createPrintTab(), QStringLiteral("Tisk"));
    m_ui.tabs->addTab(createOrientationTab(), QStringLiteral("Orientace"));
    m_ui.tabs->addTab(createPageTab(), QStringLiteral("Stránka"));
    m_ui.tabs->addTab(createGeneralTab(), QStringLiteral("Obecné"));
    m_ui.tabs->addTab(createInternetTab(), QStringLiteral("Internet"));

    m_ui.helpButton = new QPushButton(this);
    m_ui.helpButton->setAutoDefault(false);
    bindButton(m_ui.helpButton, m_ui.helpAction);
    m_ui.okButton = new QPushButton(QStringLiteral("OK"), this);
    m_ui.okButton->setDefault(true);
    m_ui.cancelButton = new QPushButton(QStringLiteral("Storno"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_ui.helpButton);
    buttons->addStretch(1);
    buttons->addWidget(m_ui.okButton);
    buttons->addWidget(m_ui.cancelButton);
    auto* form = new QVBoxLayout(this);
    form->addWidget(m_ui.tabs);
    form->addLayout(buttons);
    form->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_ui.okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui.cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui.dirAction, &QAction::triggered, this, &SettingsDialog::editDirectories);
    connect(m_ui.printerAction, &QAction::triggered, this, &SettingsDialog::setUpPrinter);
    connect(m_ui.orientAction, &QAction::triggered, this,
            [this] { m_services.orientationEditor(this); });
    connect(m_ui.helpAction, &QAction::triggered, this, &SettingsDialog::showHelp);

    createWidgets();

    connect(m_ui.printerCombo, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::printerChanged);
    connect(m_orientation, &QButtonGroup::idClicked, this, &SettingsDialog::updateOrientButtons);
    connect(m_ui.proxyCheck, &QCheckBox::clicked, this, &SettingsDialog::updateProxyFields);
    // Fields are corrected when they lose the focus or the user presses Enter in them.
    connect(m_ui.dirEdit, &QLineEdit::editingFinished, this, &SettingsDialog::dirEditFinished);
    connect(m_ui.proxyPortEdit, &QLineEdit::editingFinished, this,
            &SettingsDialog::proxyPortEditFinished);
    connect(m_ui.portraitEdit, &QAbstractSpinBox::editingFinished, this,
            [this] { m_ui.portraitEdit->setText(correctWidth(m_ui.portraitEdit->text())); });
}

QWidget* SettingsDialog::createPrintTab()
{
    auto* page = new QWidget;
    m_ui.dirEdit = new QLineEdit(page);
    m_ui.dirEdit->setToolTip(QStringLiteral(
        "Adresář, do kterého mzdový program ukládá sestavy k tisku,\nobvykle podadresář LST "
        "hlavního adresáře mzdového programu.\nJe možné zadat i více adresářů, oddělených "
        "středníkem."));
    m_ui.dirButton = ellipsisButton(m_ui.dirAction, page);
    m_ui.printerCombo = new QComboBox(page);
    m_ui.printerCombo->setToolTip(QStringLiteral(
        "Tiskárna, na kterou budou tisknuty sestavy.\nJe možné vybrat jakoukoli v systému "
        "nainstalovanou tiskárnu a navíc lze použít tiskárnu \"[žádná]\"."));
    m_ui.printerButton = ellipsisButton(m_ui.printerAction, page);
    m_ui.fontCombo = new QComboBox(page);
    m_ui.fontCombo->setToolTip(
        QStringLiteral("Písmo, kterým budou sestavy tištěny.\nVhodná jsou některá písma s pevnou "
                       "roztečí znaků (neproporcionální), \nnapř. Courier New."));
    m_ui.byOneCheck =
        checkBox(QStringLiteral("Tisknout sestavy po je&dné"),
                 QStringLiteral("Při tisku sestav po jedné se Tarnyx vždy po dokončení "
                                "tisku jedné sestavy \npřepne do režimu pozastavení."),
                 page);
    m_ui.eraseCheck =
        checkBox(QStringLiteral("Po vytištění sestavu s&mazat"),
                 QStringLiteral("Vytištěné sestavy mohou být buď smazány nebo přesunuty "
                                "do záložního adresáře."),
                 page);

    auto* grid = new QGridLayout(page);
    grid->addWidget(buddyLabel(QStringLiteral("&Adresáře:"), m_ui.dirEdit), 0, 0);
    grid->addWidget(m_ui.dirEdit, 0, 1);
    grid->addWidget(m_ui.dirButton, 0, 2);
    grid->addWidget(buddyLabel(QStringLiteral("&Tiskárna:"), m_ui.printerCombo), 1, 0);
    grid->addWidget(m_ui.printerCombo, 1, 1);
    grid->addWidget(m_ui.printerButton, 1, 2);
    grid->addWidget(buddyLabel(QStringLiteral("&Písmo:"), m_ui.fontCombo), 2, 0);
    grid->addWidget(m_ui.fontCombo, 2, 1);
    grid->addWidget(m_ui.byOneCheck, 3, 1, 1, 2);
    grid->addWidget(m_ui.eraseCheck, 4, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, 300);
    grid->setRowStretch(5, 1);
    return page;
}

QWidget* SettingsDialog::createOrientationTab()
{
    auto* page = new QWidget;
    auto* group = new QGroupBox(QStringLiteral(" Orientace stránky sestavy "), page);
    m_ui.byWidthRadio = new QRadioButton(QStringLiteral("&Na šířku nad počet znaků:"), group);
    m_ui.byWidthRadio->setToolTip(
        QStringLiteral("Sestavy, které jsou širší než zadaný počet znaků, \nbudou tištěny na šířku "
                       "(\"naležato\"), ostatní na výšku."));
    m_ui.portraitEdit = new WidthEdit(group);
    m_ui.portraitEdit->setMaxLength(3);
    m_ui.portraitEdit->setToolTip(QStringLiteral("Šířka sestavy (ve znacích), nad kterou se bude "
                                                 "tisknout na šířku.\nVýchozí hodnota je 96."));
    m_ui.perTitleRadio = new QRadioButton(QStringLiteral("&Individuálně:         -->"), group);
    m_ui.perTitleRadio->setToolTip(QStringLiteral(
        "Orientaci stránky sestavy (na šířku nebo na výšku) určí uživatel u každé sestavy "
        "individuálně.\nPouze při prvním tisku sestavy se Tarnyx zeptá na orientaci sestavy a "
        "nastavení si uloží.\nUložené orientace je možné kdykoli upravit."));
    m_ui.orientButton = new QPushButton(group);
    m_ui.orientButton->setAutoDefault(false);
    bindButton(m_ui.orientButton, m_ui.orientAction);
    m_ui.portraitRadio = new QRadioButton(QStringLiteral("Vždy na &výšku"), group);
    m_ui.portraitRadio->setToolTip(
        QStringLiteral("Všechny sestavy se budou tisknout vždy na výšku (\"nastojato\")."));
    m_ui.landscapeRadio = new QRadioButton(QStringLiteral("Vždy na &šířku"), group);
    m_ui.landscapeRadio->setToolTip(
        QStringLiteral("Všechny sestavy se budou tisknout vždy na šířku (\"naležato\")."));

    m_orientation = new QButtonGroup(this);
    m_orientation->addButton(m_ui.byWidthRadio, OrientByWidth);
    m_orientation->addButton(m_ui.perTitleRadio, OrientPerTitle);
    m_orientation->addButton(m_ui.portraitRadio, OrientPortrait);
    m_orientation->addButton(m_ui.landscapeRadio, OrientLandscape);

    auto* grid = new QGridLayout(group);
    grid->addWidget(m_ui.byWidthRadio, 0, 0);
    grid->addWidget(m_ui.portraitEdit, 0, 1);
    grid->addWidget(m_ui.perTitleRadio, 1, 0);
    grid->addWidget(m_ui.orientButton, 1, 1);
    grid->addWidget(m_ui.portraitRadio, 2, 0);
    grid->addWidget(m_ui.landscapeRadio, 3, 0);
    grid->setColumnStretch(2, 1);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

QWidget* SettingsDialog::createPageTab()
{
    auto* page = new QWidget;
    m_ui.indentGroup = new QGroupBox(QStringLiteral(" Text na stránce "), page);
    m_ui.indentGroup->setToolTip(QStringLiteral(
        "Text sestavy na vytištěné stránce je možné odsazovat vždy vpravo, \nnebo střídavě "
        "odsazovat (na lichých stránkách vpravo, na sudých vlevo), \npřípadně ho na každé "
        "stránce umístit doprostřed oblasti, \nvymezené okraji stránky v nastavení tiskárny."));
    m_indent = new QButtonGroup(this);
    auto* indentGrid = new QGridLayout(m_ui.indentGroup);
    const QStringList items = {QStringLiteral("&Neodsazovat"), QStringLiteral("&Odsazovat"),
                               QStringLiteral("&Střídavě odsazovat"), QStringLiteral("&Centrovat")};
    // Two columns, filled column by column.
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items.at(i), m_ui.indentGroup);
        m_indent->addButton(radio, i);
        indentGrid->addWidget(radio, i % 2, i / 2);
    }

    m_ui.borderGroup = new QGroupBox(QStringLiteral(" Okraje "), page);
    m_ui.borderGroup->setToolTip(
        QStringLiteral("Okraje (horní, dolní, levý, pravý), vymezující oblast tisku na stránce. "
                       "\nTyto okraje jsou uvnitř oblasti, vymezené okraji stránky v nastavení "
                       "tiskárny."));
    m_ui.topSpin = marginField(m_ui.borderGroup);
    m_ui.leftSpin = marginField(m_ui.borderGroup);
    m_ui.rightSpin = marginField(m_ui.borderGroup);
    m_ui.bottomSpin = marginField(m_ui.borderGroup);
    auto* cross = new QGridLayout(m_ui.borderGroup);
    cross->addWidget(m_ui.topSpin, 0, 1);
    cross->addWidget(m_ui.leftSpin, 1, 0);
    cross->addWidget(m_ui.rightSpin, 1, 2);
    cross->addWidget(m_ui.bottomSpin, 2, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_ui.indentGroup);
    layout->addWidget(m_ui.borderGroup);
    layout->addStretch(1);
    return page;
}

QWidget* SettingsDialog::createGeneralTab()
{
    auto* page = new QWidget;
    m_ui.autorunCheck = checkBox(
        QStringLiteral("Spouštět po př&ihlášení"),
        QStringLiteral("Program bude spuštěn automaticky při každém přihlášení k počítači."), page);
    m_ui.pauseCheck =
        checkBox(QStringLiteral("Spouštět v režimu po&zastavení"),
                 QStringLiteral("Po svém spuštění bude Tarnyx v režimu pozastavení."), page);
    m_ui.iconizeCheck =
        checkBox(QStringLiteral("Minimalizovat program do i&kony"), QString(), page);
    m_ui.hintsCheck =
        checkBox(QStringLiteral("Zobrazovat textové popi&sky"),
                 QStringLiteral("Zapne zobrazování krátkých nápovědných textů."), page);
    m_ui.priorityCheck =
        checkBox(QStringLiteral("&Vyšší uroveň priority tiskového procesu"),
                 QStringLiteral("Zvýší prioritu tiskového procesu, což může zrychlit průběh tisku "
                                "na pozadí."),
                 page);
    m_ui.taskbarCheck =
        checkBox(QStringLiteral("&Okna sestav na hlavním panelu"),
                 QStringLiteral("Zobrazí na hlavním panelu pracovního prostředí "
                                "tlačítko pro každou sestavu,\notevřenou v Prohlížeči "
                                "sestav."),
                 page);
    m_ui.taskbarCheck->setEnabled(false);
    m_ui.updateCheck = checkBox(QStringLiteral("Zjišťovat dostupnost &nové verze"),
                                QStringLiteral("Tarnyx bude zjišťovat dostupnost novější verze na "
                                               "Internetu \na případně ji automaticky stáhne a "
                                               "nainstaluje."),
                                page);
    auto* layout = new QVBoxLayout(page);
    for (QCheckBox* box : {m_ui.autorunCheck, m_ui.pauseCheck, m_ui.iconizeCheck, m_ui.hintsCheck,
                           m_ui.priorityCheck, m_ui.taskbarCheck, m_ui.updateCheck})
        layout->addWidget(box);
    layout->addStretch(1);
    return page;
}

QWidget* SettingsDialog::createInternetTab()
{
    auto* page = new QWidget;
    auto* group = new QGroupBox(QStringLiteral(" Proxy "), page);
    group->setToolTip(QStringLiteral("Pokud to vyžaduje Vaše připojení, nastavte odpovídající "
                                     "adresu a port \nproxy serveru pro připojení do Internetu "
                                     "protokolem HTTP."));
    m_ui.proxyCheck = new QCheckBox(QStringLiteral("Připojení přes HTTP &proxy"), group);
    m_ui.proxyAddrEdit = new QLineEdit(group);
    m_ui.proxyPortEdit = new QLineEdit(group);
    m_ui.proxyPortEdit->setMaximumWidth(80);
    auto* grid = new QGridLayout(group);
    grid->addWidget(m_ui.proxyCheck, 0, 0, 1, 2);
    grid->addWidget(buddyLabel(QStringLiteral("A&dresa:"), m_ui.proxyAddrEdit), 1, 0);
    grid->addWidget(m_ui.proxyAddrEdit, 1, 1);
    grid->addWidget(buddyLabel(QStringLiteral("Po&rt:"), m_ui.proxyPortEdit), 2, 0);
    grid->addWidget(m_ui.proxyPortEdit, 2, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

void SettingsDialog::createWidgets()
{
    applyFormLook(this, m_settings);
    m_ui.tabs->setCurrentIndex(0);
    m_ui.topSpin->setMaximum(100);
    m_ui.bottomSpin->setMaximum(100);
    m_ui.leftSpin->setMaximum(50);
    m_ui.rightSpin->setMaximum(50);
    m_ui.dirEdit->setText(m_settings.directories);
    fillPrinterList();

    for (const auto& [box, setting] : checkBoxSettings())
        box->setChecked(m_settings.*setting);
    m_ui.portraitEdit->setValue(m_settings.maxPortrait);
    switch (m_settings.orientation) {
    case OrientPerTitle:
        m_ui.perTitleRadio->setChecked(true);
        break;
    case OrientPortrait:
        m_ui.portraitRadio->setChecked(true);
        break;
    case OrientLandscape:
        m_ui.landscapeRadio->setChecked(true);
        break;
    default:
        m_ui.byWidthRadio->setChecked(true);
        break;
    }
    updateOrientButtons();
    if (QAbstractButton* radio = m_indent->button(m_settings.indent))
        radio->setChecked(true);
    m_ui.topSpin->setValue(m_settings.borders.top());
    m_ui.leftSpin->setValue(m_settings.borders.left());
    m_ui.rightSpin->setValue(m_settings.borders.right());
    m_ui.bottomSpin->setValue(m_settings.borders.bottom());
    m_ui.proxyAddrEdit->setText(m_settings.proxyAddr);
    m_ui.proxyPortEdit->setText(m_settings.proxyPort);

    fillFontList();
    m_savedPrinter = m_printers.currentPrinter();
    m_ui.portraitEdit->setRange(kMinPortrait, kMaxPortrait);
    updateProxyFields();
}

QList<std::pair<QCheckBox*, bool AppSettings::*>> SettingsDialog::checkBoxSettings() const
{
    return {{m_ui.byOneCheck, &AppSettings::printByOne},
            {m_ui.eraseCheck, &AppSettings::erase},
            {m_ui.autorunCheck, &AppSettings::autorun},
            {m_ui.pauseCheck, &AppSettings::runPaused},
            {m_ui.iconizeCheck, &AppSettings::iconize},
            {m_ui.hintsCheck, &AppSettings::showHints},
            {m_ui.priorityCheck, &AppSettings::highPriority},
            {m_ui.taskbarCheck, &AppSettings::wndTaskbar},
            {m_ui.updateCheck, &AppSettings::verCheck},
            {m_ui.proxyCheck, &AppSettings::proxyServer}};
}

void SettingsDialog::fillPrinterList()
{
    const QStringList installed = m_printers.printerNames();
    m_ui.printerCombo->clear();
    m_ui.printerCombo->addItem(kNoPrinter);
    m_ui.printerCombo->addItems(installed);
    int selected = 0; // "[žádná]"
    if (!m_settings.printer.isEmpty()) {
        const QString found = findInstalledPrinter(installed, m_settings.printer);
        selected = found.isEmpty() ? -1 : int(installed.lastIndexOf(found)) + 1;
    }
    m_ui.printerCombo->setCurrentIndex(selected);
}

void SettingsDialog::fillFontList()
{
    m_ui.fontCombo->clear();
    if (m_ui.printerCombo->currentIndex() <= 0)
        return;
    m_ui.fontCombo->addItems(m_services.fontNames());
    m_ui.fontCombo->setCurrentIndex(
        m_ui.fontCombo->findText(m_settings.font, Qt::MatchFixedString));
}

void SettingsDialog::printerChanged(int index)
{
    if (index > 0)
        m_printers.setCurrentPrinter(m_ui.printerCombo->itemText(index));
    fillFontList();
}

void SettingsDialog::updateOrientButtons()
{
    m_ui.orientAction->setEnabled(m_ui.perTitleRadio->isChecked());
    m_ui.portraitEdit->setEnabled(m_ui.perTitleRadio->isChecked() ||
                                  m_ui.byWidthRadio->isChecked());
}

void SettingsDialog::updateProxyFields()
{
    m_ui.proxyAddrEdit->setEnabled(m_ui.proxyCheck->isChecked());
    m_ui.proxyPortEdit->setEnabled(m_ui.proxyCheck->isChecked());
}

QString SettingsDialog::correctWidth(const QString& text)
{
    const std::optional<int> width = wholeNumber(text);
    if (!width)
        return QStringLiteral("96");
    return QString::number(std::clamp(*width, kMinPortrait, kMaxPortrait));
}

QString SettingsDialog::correctPort(const QString& text)
{
    const std::optional<int> port = wholeNumber(text);
    if (!port || *port < 1 || *port > 65535)
        return QStringLiteral("8080");
    return QString::number(*port);
}

QString SettingsDialog::normaliseDirectories(const QString& text)
{
    QString result;
    for (const QString& entry : spoolDirectoryList(trimText(text))) {
        QString dir = entry;
        dir.remove(u'"');
        result += platform::includeTrailingPathDelimiter(trimText(dir)) + u';';
    }
    while (result.endsWith(u';'))
        result.chop(1);
    return result;
}

void SettingsDialog::dirEditFinished()
{
    const QString normalised = normaliseDirectories(m_ui.dirEdit->text());
    if (normalised != m_ui.dirEdit->text())
        m_ui.dirEdit->setText(normalised);
}

void SettingsDialog::proxyPortEditFinished()
{
    m_ui.proxyPortEdit->setText(correctPort(m_ui.proxyPortEdit->text()));
}

void SettingsDialog::editDirectories()
{
    QString directories = m_ui.dirEdit->text();
    if (m_services.directoriesDialog(this, directories))
        m_ui.dirEdit->setText(directories);
}

void SettingsDialog::setUpPrinter()
{
    if (m_ui.printerCombo->currentIndex() <= 0) {
        messageDlg(QStringLiteral("Tiskárna %1 neprovádí žádný textový výstup, tištěná sestava "
                                  "\"zmizí\". \rPokud je vypnut přepínač \"po vytištění sestavu "
                                  "smazat\", \rsestava se místo vytištění jen uloží do archívu a "
                                  "bude později \rdostupná pomocí prohlížeče sestav. ")
                       .arg(kNoPrinter),
                   MsgKind::Information, {MsgButton::Ok}, kNoPrinter, this);
        return;
    }
    // Qt asks the scheduler for the printer with no time limit; one that hangs would freeze the
    // program. The catalog's own question has a limit, so it is asked first.
    if (!m_printers.available()) {
        messageDlg(PrinterCatalog::noAnswerText(), MsgKind::Error, {MsgButton::Ok}, {}, this);
        return;
    }
    const QString current = m_printers.currentPrinter();
    const QPrinterInfo info = QPrinterInfo::printerInfo(current);
    QPrinter printer(info, QPrinter::HighResolution);
    // The setup starts from the paper jobs print on: the one chosen this session, else the
    // queue's default (a new printer object holds A4 whatever the queue's paper).
    const QPageSize chosen = m_printers.paperFor(current);
    const QPageSize paper = chosen.isValid() ? chosen : info.defaultPageSize();
    if (paper.isValid())
        printer.setPageSize(paper);
    if (m_services.printerSetup(printer, this))
        m_printers.setPaperFor(current, printer.pageLayout().pageSize());
}

void SettingsDialog::showHelp()
{
    m_services.closeHelp();
    m_services.showHelp(this, setupHelpTopic(m_ui.tabs->currentIndex() + 1));
}

void SettingsDialog::updateAutorun() const
{
    const QString value = productKeys().productKey;
    const QString entry = platform::autostart::userEntryPath(value);
    if (m_settings.autorun)
        platform::autostart::writeCommand(
            entry, value, autostartCommandLine(m_services.programPath, m_settings.iconize));
    else
        platform::autostart::remove(entry);
}

void SettingsDialog::accept()
{
    // Fields that are still being typed in are corrected as if they had been left.
    dirEditFinished();
    m_ui.portraitEdit->setText(correctWidth(m_ui.portraitEdit->text()));
    if (m_ui.proxyCheck->isChecked())
        proxyPortEditFinished();

    AppSettings& s = m_settings;
    s.directories = m_ui.dirEdit->text();
    // Kept even when some are not there now; the user only hears of them.
    SpoolDirsDialog::warnUnavailable(s.directories, this);
    if (m_ui.printerCombo->currentIndex() <= 0) {
        s.printer.clear();
    } else {
        s.printer = m_ui.printerCombo->currentText();
        s.font = m_ui.fontCombo->currentText();
    }
    for (const auto& [box, setting] : checkBoxSettings())
        s.*setting = box->isChecked();
    s.maxPortrait = m_ui.portraitEdit->value();
    s.indent = quint8(std::max(m_indent->checkedId(), 0));
    s.borders = QMargins(m_ui.leftSpin->value(), m_ui.topSpin->value(), m_ui.rightSpin->value(),
                         m_ui.bottomSpin->value());
    if (m_ui.perTitleRadio->isChecked())
        s.orientation = OrientPerTitle;
    else if (m_ui.portraitRadio->isChecked())
        s.orientation = OrientPortrait;
    else if (m_ui.landscapeRadio->isChecked())
        s.orientation = OrientLandscape;
    else
        s.orientation = OrientByWidth;
    if (s.proxyServer) {
        s.proxyAddr = trimText(m_ui.proxyAddrEdit->text());
        s.proxyPort = trimText(m_ui.proxyPortEdit->text());
    }
    updateAutorun();
    // The settings apply for this session either way; the user learns that they will not last.
    if (!s.save())
        messageDlg(QStringLiteral("Nastavení se nepodařilo uložit do souboru %1.")
                       .arg(RegistryIni::hivePath()),
                   MsgKind::Error, {MsgButton::Ok}, QString(), this);
    setShowHints(s.showHints);
    QDialog::accept();
}

void SettingsDialog::reject()
{
    const bool printersInstalled = m_ui.printerCombo->count() > 1;
    if (printersInstalled && !m_services.documentInProgress())
        m_printers.setCurrentPrinter(m_savedPrinter);
    QDialog::reject();
}
