#include "config/SettingsDialog.h"

#include "about/HelpViewer.h"
#include "config/AppSettings.h"
#include "config/FormLook.h"
#include "config/PrinterFonts.h"
#include "config/RegistryIni.h"
#include "config/SpoolDirsDialog.h"
#include "core/MessageDlg.h"
#include "platform/Autostart.h"
#include "platform/CommandLine.h"
#include "platform/FileInfo.h"
#include "print/PrinterCatalog.h"
#include "report/OrientationEditor.h"
#include "report/OrientationMemory.h"

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
        m_services.showHelp = [](QWidget* owner, const QString& topic) {
            showHelpTopic(owner, getHelpFileName(), topic);
        };
    if (!m_services.closeHelp)
        m_services.closeHelp = [] {
            closeAllHelp();
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

    dirAction = new QAction(QStringLiteral("..."), this);
    dirAction->setToolTip(QStringLiteral("Vyhledání a přidání adresáře se sestavami."));
    printerAction = new QAction(QStringLiteral("..."), this);
    printerAction->setToolTip(
        QStringLiteral("Nastavení tiskárny, na kterou budou tisknuty sestavy."));
    orientAction = new QAction(QStringLiteral("N&astavení"), this);
    orientAction->setToolTip(
        QStringLiteral("Seznam vytištěných sestav a jejich orientací s možností úpravy."));
    helpAction = new QAction(QStringLiteral("Nápověda"), this);
    helpAction->setShortcut(Qt::Key_F1);
    helpAction->setShortcutContext(Qt::WindowShortcut);
    addAction(helpAction);

    tabs = new QTabWidget(this);
    tabs->addTab(createPrintTab(), QStringLiteral("Tisk"));
    tabs->addTab(createOrientationTab(), QStringLiteral("Orientace"));
    tabs->addTab(createPageTab(), QStringLiteral("Stránka"));
    tabs->addTab(createGeneralTab(), QStringLiteral("Obecné"));
    tabs->addTab(createInternetTab(), QStringLiteral("Internet"));

    helpButton = new QPushButton(this);
    helpButton->setAutoDefault(false);
    bindButton(helpButton, helpAction);
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("Storno"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(helpButton);
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    auto* form = new QVBoxLayout(this);
    form->addWidget(tabs);
    form->addLayout(buttons);
    form->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(dirAction, &QAction::triggered, this, &SettingsDialog::actDirExecute);
    connect(printerAction, &QAction::triggered, this, &SettingsDialog::actPrnExecute);
    connect(orientAction, &QAction::triggered, this,
            [this] { m_services.orientationEditor(this); });
    connect(helpAction, &QAction::triggered, this, &SettingsDialog::actHelpExecute);

    createWidgets();

    connect(printerCombo, &QComboBox::currentIndexChanged, this, &SettingsDialog::printerChanged);
    connect(m_orientation, &QButtonGroup::idClicked, this, &SettingsDialog::updateOrientButtons);
    connect(proxyCheck, &QCheckBox::clicked, this, &SettingsDialog::updateProxyFields);
    // Fields are corrected when they lose the focus or the user presses Enter in them.
    connect(dirEdit, &QLineEdit::editingFinished, this, &SettingsDialog::dirEditFinished);
    connect(proxyPortEdit, &QLineEdit::editingFinished, this,
            &SettingsDialog::proxyPortEditFinished);
    connect(portraitEdit, &QAbstractSpinBox::editingFinished, this,
            [this] { portraitEdit->setText(correctWidth(portraitEdit->text())); });
}

QWidget* SettingsDialog::createPrintTab()
{
    auto* page = new QWidget;
    dirEdit = new QLineEdit(page);
    dirEdit->setToolTip(QStringLiteral(
        "Adresář, do kterého mzdový program ukládá sestavy k tisku,\nobvykle podadresář LST "
        "hlavního adresáře mzdového programu.\nJe možné zadat i více adresářů, oddělených "
        "středníkem."));
    dirButton = ellipsisButton(dirAction, page);
    printerCombo = new QComboBox(page);
    printerCombo->setToolTip(QStringLiteral(
        "Tiskárna, na kterou budou tisknuty sestavy.\nJe možné vybrat jakoukoli v systému "
        "nainstalovanou tiskárnu a navíc lze použít tiskárnu \"[žádná]\"."));
    printerButton = ellipsisButton(printerAction, page);
    fontCombo = new QComboBox(page);
    fontCombo->setToolTip(
        QStringLiteral("Písmo, kterým budou sestavy tištěny.\nVhodná jsou některá písma s pevnou "
                       "roztečí znaků (neproporcionální), \nnapř. Courier New."));
    byOneCheck = checkBox(QStringLiteral("Tisknout sestavy po je&dné"),
                          QStringLiteral("Při tisku sestav po jedné se Tarnyx vždy po dokončení "
                                         "tisku jedné sestavy \npřepne do režimu pozastavení."),
                          page);
    eraseCheck = checkBox(QStringLiteral("Po vytištění sestavu s&mazat"),
                          QStringLiteral("Vytištěné sestavy mohou být buď smazány nebo přesunuty "
                                         "do záložního adresáře."),
                          page);

    auto* grid = new QGridLayout(page);
    grid->addWidget(buddyLabel(QStringLiteral("&Adresáře:"), dirEdit), 0, 0);
    grid->addWidget(dirEdit, 0, 1);
    grid->addWidget(dirButton, 0, 2);
    grid->addWidget(buddyLabel(QStringLiteral("&Tiskárna:"), printerCombo), 1, 0);
    grid->addWidget(printerCombo, 1, 1);
    grid->addWidget(printerButton, 1, 2);
    grid->addWidget(buddyLabel(QStringLiteral("&Písmo:"), fontCombo), 2, 0);
    grid->addWidget(fontCombo, 2, 1);
    grid->addWidget(byOneCheck, 3, 1, 1, 2);
    grid->addWidget(eraseCheck, 4, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, 300);
    grid->setRowStretch(5, 1);
    return page;
}

QWidget* SettingsDialog::createOrientationTab()
{
    auto* page = new QWidget;
    auto* group = new QGroupBox(QStringLiteral(" Orientace stránky sestavy "), page);
    byWidthRadio = new QRadioButton(QStringLiteral("&Na šířku nad počet znaků:"), group);
    byWidthRadio->setToolTip(
        QStringLiteral("Sestavy, které jsou širší než zadaný počet znaků, \nbudou tištěny na šířku "
                       "(\"naležato\"), ostatní na výšku."));
    portraitEdit = new WidthEdit(group);
    portraitEdit->setMaxLength(3);
    portraitEdit->setToolTip(QStringLiteral("Šířka sestavy (ve znacích), nad kterou se bude "
                                            "tisknout na šířku.\nVýchozí hodnota je 96."));
    perTitleRadio = new QRadioButton(QStringLiteral("&Individuálně:         -->"), group);
    perTitleRadio->setToolTip(QStringLiteral(
        "Orientaci stránky sestavy (na šířku nebo na výšku) určí uživatel u každé sestavy "
        "individuálně.\nPouze při prvním tisku sestavy se Tarnyx zeptá na orientaci sestavy a "
        "nastavení si uloží.\nUložené orientace je možné kdykoli upravit."));
    orientButton = new QPushButton(group);
    orientButton->setAutoDefault(false);
    bindButton(orientButton, orientAction);
    portraitRadio = new QRadioButton(QStringLiteral("Vždy na &výšku"), group);
    portraitRadio->setToolTip(
        QStringLiteral("Všechny sestavy se budou tisknout vždy na výšku (\"nastojato\")."));
    landscapeRadio = new QRadioButton(QStringLiteral("Vždy na &šířku"), group);
    landscapeRadio->setToolTip(
        QStringLiteral("Všechny sestavy se budou tisknout vždy na šířku (\"naležato\")."));

    m_orientation = new QButtonGroup(this);
    m_orientation->addButton(byWidthRadio, OrientByWidth);
    m_orientation->addButton(perTitleRadio, OrientPerTitle);
    m_orientation->addButton(portraitRadio, OrientPortrait);
    m_orientation->addButton(landscapeRadio, OrientLandscape);

    auto* grid = new QGridLayout(group);
    grid->addWidget(byWidthRadio, 0, 0);
    grid->addWidget(portraitEdit, 0, 1);
    grid->addWidget(perTitleRadio, 1, 0);
    grid->addWidget(orientButton, 1, 1);
    grid->addWidget(portraitRadio, 2, 0);
    grid->addWidget(landscapeRadio, 3, 0);
    grid->setColumnStretch(2, 1);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

QWidget* SettingsDialog::createPageTab()
{
    auto* page = new QWidget;
    indentGroup = new QGroupBox(QStringLiteral(" Text na stránce "), page);
    indentGroup->setToolTip(QStringLiteral(
        "Text sestavy na vytištěné stránce je možné odsazovat vždy vpravo, \nnebo střídavě "
        "odsazovat (na lichých stránkách vpravo, na sudých vlevo), \npřípadně ho na každé "
        "stránce umístit doprostřed oblasti, \nvymezené okraji stránky v nastavení tiskárny."));
    m_indent = new QButtonGroup(this);
    auto* indentGrid = new QGridLayout(indentGroup);
    const QStringList items = {QStringLiteral("&Neodsazovat"), QStringLiteral("&Odsazovat"),
                               QStringLiteral("&Střídavě odsazovat"), QStringLiteral("&Centrovat")};
    // Two columns, filled column by column.
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items.at(i), indentGroup);
        m_indent->addButton(radio, i);
        indentGrid->addWidget(radio, i % 2, i / 2);
    }

    borderGroup = new QGroupBox(QStringLiteral(" Okraje "), page);
    borderGroup->setToolTip(
        QStringLiteral("Okraje (horní, dolní, levý, pravý), vymezující oblast tisku na stránce. "
                       "\nTyto okraje jsou uvnitř oblasti, vymezené okraji stránky v nastavení "
                       "tiskárny."));
    topSpin = marginField(borderGroup);
    leftSpin = marginField(borderGroup);
    rightSpin = marginField(borderGroup);
    bottomSpin = marginField(borderGroup);
    auto* cross = new QGridLayout(borderGroup);
    cross->addWidget(topSpin, 0, 1);
    cross->addWidget(leftSpin, 1, 0);
    cross->addWidget(rightSpin, 1, 2);
    cross->addWidget(bottomSpin, 2, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(indentGroup);
    layout->addWidget(borderGroup);
    layout->addStretch(1);
    return page;
}

QWidget* SettingsDialog::createGeneralTab()
{
    auto* page = new QWidget;
    autorunCheck = checkBox(
        QStringLiteral("Spouštět při startu &Windows"),
        QStringLiteral("Program bude spuštěn automaticky při každém startu Windows."), page);
    pauseCheck =
        checkBox(QStringLiteral("Spouštět v režimu po&zastavení"),
                 QStringLiteral("Po svém spuštění bude Tarnyx v režimu pozastavení."), page);
    iconizeCheck = checkBox(QStringLiteral("Minimalizovat program do i&kony"), QString(), page);
    hintsCheck = checkBox(QStringLiteral("Zobrazovat textové popi&sky"),
                          QStringLiteral("Zapne zobrazování krátkých nápovědných textů."), page);
    priorityCheck =
        checkBox(QStringLiteral("&Vyšší uroveň priority tiskového procesu"),
                 QStringLiteral("Zvýší prioritu tiskového procesu, což může zrychlit průběh tisku "
                                "na pozadí\nu Windows 95/98/ME."),
                 page);
    taskbarCheck = checkBox(QStringLiteral("&Okna sestav na hlavním panelu"),
                            QStringLiteral("Zobrazí na hlavním panelu systému Microsoft Windows "
                                           "tlačítko pro každou sestavu,\notevřenou v Prohlížeči "
                                           "sestav."),
                            page);
    taskbarCheck->setEnabled(false);
    updateCheck = checkBox(QStringLiteral("&Zjišťovat dostupnost &nové verze"),
                           QStringLiteral("Tarnyx bude zjišťovat dostupnost novější verze na "
                                          "Internetu \na případně ji automaticky stáhne a "
                                          "nainstaluje."),
                           page);
    auto* layout = new QVBoxLayout(page);
    for (QCheckBox* box : {autorunCheck, pauseCheck, iconizeCheck, hintsCheck, priorityCheck,
                           taskbarCheck, updateCheck})
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
    proxyCheck = new QCheckBox(QStringLiteral("Připojení přes HTTP &proxy"), group);
    proxyAddrEdit = new QLineEdit(group);
    proxyPortEdit = new QLineEdit(group);
    proxyPortEdit->setMaximumWidth(80);
    auto* grid = new QGridLayout(group);
    grid->addWidget(proxyCheck, 0, 0, 1, 2);
    grid->addWidget(buddyLabel(QStringLiteral("A&dresa:"), proxyAddrEdit), 1, 0);
    grid->addWidget(proxyAddrEdit, 1, 1);
    grid->addWidget(buddyLabel(QStringLiteral("Po&rt:"), proxyPortEdit), 2, 0);
    grid->addWidget(proxyPortEdit, 2, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

void SettingsDialog::createWidgets()
{
    applyFormLook(this, m_settings);
    tabs->setCurrentIndex(0);
    topSpin->setMaximum(100);
    bottomSpin->setMaximum(100);
    leftSpin->setMaximum(50);
    rightSpin->setMaximum(50);
    dirEdit->setText(m_settings.directories);
    fillPrinterList();

    for (const auto& [box, setting] : checkBoxSettings())
        box->setChecked(m_settings.*setting);
    portraitEdit->setValue(m_settings.maxPortrait);
    switch (m_settings.orientation) {
    case OrientPerTitle:
        perTitleRadio->setChecked(true);
        break;
    case OrientPortrait:
        portraitRadio->setChecked(true);
        break;
    case OrientLandscape:
        landscapeRadio->setChecked(true);
        break;
    default:
        byWidthRadio->setChecked(true);
        break;
    }
    updateOrientButtons();
    if (QAbstractButton* radio = m_indent->button(m_settings.indent))
        radio->setChecked(true);
    topSpin->setValue(m_settings.borders.top());
    leftSpin->setValue(m_settings.borders.left());
    rightSpin->setValue(m_settings.borders.right());
    bottomSpin->setValue(m_settings.borders.bottom());
    proxyAddrEdit->setText(m_settings.proxyAddr);
    proxyPortEdit->setText(m_settings.proxyPort);

    fillFontList();
    m_savedPrinter = m_printers.currentPrinter();
    portraitEdit->setRange(kMinPortrait, kMaxPortrait);
    updateProxyFields();
}

QList<std::pair<QCheckBox*, bool AppSettings::*>> SettingsDialog::checkBoxSettings() const
{
    return {{byOneCheck, &AppSettings::printByOne},      {eraseCheck, &AppSettings::erase},
            {autorunCheck, &AppSettings::autorun},       {pauseCheck, &AppSettings::runPaused},
            {iconizeCheck, &AppSettings::iconize},       {hintsCheck, &AppSettings::showHints},
            {priorityCheck, &AppSettings::highPriority}, {taskbarCheck, &AppSettings::wndTaskbar},
            {updateCheck, &AppSettings::verCheck},       {proxyCheck, &AppSettings::proxyServer}};
}

void SettingsDialog::fillPrinterList()
{
    const QStringList installed = m_printers.printerNames();
    printerCombo->clear();
    printerCombo->addItem(kNoPrinter);
    printerCombo->addItems(installed);
    int selected = 0; // "[žádná]"
    if (!m_settings.printer.isEmpty()) {
        const QString found = findInstalledPrinter(installed, m_settings.printer);
        selected = found.isEmpty() ? -1 : int(installed.lastIndexOf(found)) + 1;
    }
    printerCombo->setCurrentIndex(selected);
}

void SettingsDialog::fillFontList()
{
    fontCombo->clear();
    if (printerCombo->currentIndex() <= 0)
        return;
    fontCombo->addItems(m_services.fontNames());
    fontCombo->setCurrentIndex(fontCombo->findText(m_settings.font, Qt::MatchFixedString));
}

void SettingsDialog::printerChanged(int index)
{
    if (index > 0)
        m_printers.setCurrentPrinter(printerCombo->itemText(index));
    fillFontList();
}

void SettingsDialog::updateOrientButtons()
{
    orientAction->setEnabled(perTitleRadio->isChecked());
    portraitEdit->setEnabled(perTitleRadio->isChecked() || byWidthRadio->isChecked());
}

void SettingsDialog::updateProxyFields()
{
    proxyAddrEdit->setEnabled(proxyCheck->isChecked());
    proxyPortEdit->setEnabled(proxyCheck->isChecked());
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
    for (const QString& entry : trimText(text).split(u';', Qt::SkipEmptyParts)) {
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
    const QString normalised = normaliseDirectories(dirEdit->text());
    if (normalised != dirEdit->text())
        dirEdit->setText(normalised);
}

void SettingsDialog::proxyPortEditFinished()
{
    proxyPortEdit->setText(correctPort(proxyPortEdit->text()));
}

void SettingsDialog::actDirExecute()
{
    QString directories = dirEdit->text();
    if (m_services.directoriesDialog(this, directories))
        dirEdit->setText(directories);
}

void SettingsDialog::actPrnExecute()
{
    if (printerCombo->currentIndex() <= 0) {
        messageDlg(QStringLiteral("Tiskárna %1 neprovádí žádný textový výstup, tištěná sestava "
                                  "\"zmizí\". \rPokud je vypnut přepínač \"po vytištění sestavu "
                                  "smazat\", \rsestava se místo vytištění jen uloží do archívu a "
                                  "bude později \rdostupná pomocí prohlížeče sestav. ")
                       .arg(kNoPrinter),
                   MsgKind::Information, {MsgButton::Ok}, kNoPrinter, this);
        return;
    }
    const QString current = m_printers.currentPrinter();
    QPrinter printer(QPrinterInfo::printerInfo(current), QPrinter::HighResolution);
    const QPageSize chosen = m_printers.paperFor(current);
    if (chosen.isValid())
        printer.setPageSize(chosen);
    if (m_services.printerSetup(printer, this))
        m_printers.setPaperFor(current, printer.pageLayout().pageSize());
}

void SettingsDialog::actHelpExecute()
{
    m_services.closeHelp();
    m_services.showHelp(this, setupHelpTopic(tabs->currentIndex() + 1));
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
    portraitEdit->setText(correctWidth(portraitEdit->text()));
    if (proxyCheck->isChecked())
        proxyPortEditFinished();

    AppSettings& s = m_settings;
    s.directories = dirEdit->text();
    if (printerCombo->currentIndex() <= 0) {
        s.printer.clear();
    } else {
        s.printer = printerCombo->currentText();
        s.font = fontCombo->currentText();
    }
    for (const auto& [box, setting] : checkBoxSettings())
        s.*setting = box->isChecked();
    s.maxPortrait = portraitEdit->value();
    s.indent = quint8(std::max(m_indent->checkedId(), 0));
    s.borders =
        QMargins(leftSpin->value(), topSpin->value(), rightSpin->value(), bottomSpin->value());
    if (perTitleRadio->isChecked())
        s.orientation = OrientPerTitle;
    else if (portraitRadio->isChecked())
        s.orientation = OrientPortrait;
    else if (landscapeRadio->isChecked())
        s.orientation = OrientLandscape;
    else
        s.orientation = OrientByWidth;
    if (s.proxyServer) {
        s.proxyAddr = trimText(proxyAddrEdit->text());
        s.proxyPort = trimText(proxyPortEdit->text());
    }
    updateAutorun();
    // The settings apply for this session either way; the user learns that they will not last.
    if (!s.saveSettings())
        messageDlg(QStringLiteral("Nastavení se nepodařilo uložit do souboru %1.")
                       .arg(RegistryIni::hivePath()),
                   MsgKind::Error, {MsgButton::Ok}, QString(), this);
    setShowHints(s.showHints);
    QDialog::accept();
}

void SettingsDialog::reject()
{
    const bool printersInstalled = printerCombo->count() > 1;
    if (printersInstalled && !m_services.documentInProgress())
        m_printers.setCurrentPrinter(m_savedPrinter);
    QDialog::reject();
}
