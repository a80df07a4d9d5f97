#include "config/UnitSetup.h"

#include "about/HelpViewer.h"
#include "config/AppSettings.h"
#include "config/FormLook.h"
#include "config/MvRegIni.h"
#include "config/PrinterFonts.h"
#include "config/UnitDirs.h"
#include "core/MessageDlg.h"
#include "platform/Autostart.h"
#include "platform/CommandLine.h"
#include "platform/FileInfo.h"
#include "print/PrinterCatalog.h"
#include "report/UnitLstEdit.h"
#include "report/UnitOrient.h"

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
    return ParseDecimal(TrimText(text));
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
    BindButton(button, action);
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

TFormSetup::TFormSetup(TAppSettings& settings, PrinterCatalog& printers, SetupServices services,
                       QWidget* parent)
    : QDialog(parent), m_settings(settings), m_printers(printers), m_services(std::move(services))
{
    setObjectName(QStringLiteral("FormSetup"));
    setWindowTitle(QStringLiteral("Nastavení"));
    setWindowFlags(FixedDialogFlags);

    if (!m_services.fontNames)
        m_services.fontNames = [&printers] {
            return PrinterFontNames(printers);
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
            TFormLstEdit editor(LstList(), settings, owner);
            editor.exec();
        };
    if (!m_services.showHelp)
        m_services.showHelp = [](QWidget* owner, const QString& topic) {
            ShowHelpTopic(owner, GetHelpFileName(), topic);
        };
    if (!m_services.closeHelp)
        m_services.closeHelp = [] {
            CloseAllHelp();
        };
    if (!m_services.directoriesDialog)
        m_services.directoriesDialog = [&settings](QWidget* owner, QString& directories) {
            TFormDirs dialog(settings, owner);
            dialog.SetList(directories);
            if (dialog.exec() != QDialog::Accepted)
                return false;
            directories = dialog.GetList();
            return true;
        };
    if (m_services.programPath.isEmpty())
        m_services.programPath = platform::programFilePath();

    actDir = new QAction(QStringLiteral("..."), this);
    actDir->setToolTip(QStringLiteral("Vyhledání a přidání adresáře se sestavami."));
    actPrn = new QAction(QStringLiteral("..."), this);
    actPrn->setToolTip(QStringLiteral("Nastavení tiskárny, na kterou budou tisknuty sestavy."));
    actOrient = new QAction(QStringLiteral("N&astavení"), this);
    actOrient->setToolTip(
        QStringLiteral("Seznam vytištěných sestav a jejich orientací s možností úpravy."));
    actHelp = new QAction(QStringLiteral("Nápověda"), this);
    actHelp->setShortcut(Qt::Key_F1);
    actHelp->setShortcutContext(Qt::WindowShortcut);
    addAction(actHelp);

    PageControl1 = new QTabWidget(this);
    PageControl1->addTab(createPrintTab(), QStringLiteral("Tisk"));
    PageControl1->addTab(createOrientationTab(), QStringLiteral("Orientace"));
    PageControl1->addTab(createPageTab(), QStringLiteral("Stránka"));
    PageControl1->addTab(createGeneralTab(), QStringLiteral("Obecné"));
    PageControl1->addTab(createInternetTab(), QStringLiteral("Internet"));

    ButtonHelp = new QPushButton(this);
    ButtonHelp->setAutoDefault(false);
    BindButton(ButtonHelp, actHelp);
    ButtonOK = new QPushButton(QStringLiteral("OK"), this);
    ButtonOK->setDefault(true);
    ButtonCancel = new QPushButton(QStringLiteral("Storno"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ButtonHelp);
    buttons->addStretch(1);
    buttons->addWidget(ButtonOK);
    buttons->addWidget(ButtonCancel);
    auto* form = new QVBoxLayout(this);
    form->addWidget(PageControl1);
    form->addLayout(buttons);
    form->setSizeConstraint(QLayout::SetFixedSize);

    connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(actDir, &QAction::triggered, this, &TFormSetup::actDirExecute);
    connect(actPrn, &QAction::triggered, this, &TFormSetup::actPrnExecute);
    connect(actOrient, &QAction::triggered, this, [this] { m_services.orientationEditor(this); });
    connect(actHelp, &QAction::triggered, this, &TFormSetup::actHelpExecute);

    FormCreate();

    connect(ComboPrn, &QComboBox::currentIndexChanged, this, &TFormSetup::ComboPrnChange);
    connect(m_orientation, &QButtonGroup::idClicked, this, &TFormSetup::UpdateOrientButtons);
    connect(CheckBoxProxy, &QCheckBox::clicked, this, &TFormSetup::UpdateProxyFields);
    // Fields are corrected when they lose the focus or the user presses Enter in them.
    connect(EditDir, &QLineEdit::editingFinished, this, &TFormSetup::EditDirExit);
    connect(EditProxyPort, &QLineEdit::editingFinished, this, &TFormSetup::EditProxyPortExit);
    connect(EditPortrait, &QAbstractSpinBox::editingFinished, this,
            [this] { EditPortrait->setText(CorrectWidth(EditPortrait->text())); });
}

QWidget* TFormSetup::createPrintTab()
{
    auto* page = new QWidget;
    EditDir = new QLineEdit(page);
    EditDir->setToolTip(QStringLiteral(
        "Adresář, do kterého mzdový program ukládá sestavy k tisku,\nobvykle podadresář LST "
        "hlavního adresáře mzdového programu.\nJe možné zadat i více adresářů, oddělených "
        "středníkem."));
    ButtonDir = ellipsisButton(actDir, page);
    ComboPrn = new QComboBox(page);
    ComboPrn->setToolTip(QStringLiteral(
        "Tiskárna, na kterou budou tisknuty sestavy.\nJe možné vybrat jakoukoli v systému "
        "nainstalovanou tiskárnu a navíc lze použít tiskárnu \"[žádná]\"."));
    ButtonPrn = ellipsisButton(actPrn, page);
    ComboFont = new QComboBox(page);
    ComboFont->setToolTip(
        QStringLiteral("Písmo, kterým budou sestavy tištěny.\nVhodná jsou některá písma s pevnou "
                       "roztečí znaků (neproporcionální), \nnapř. Courier New."));
    CheckOne = checkBox(QStringLiteral("Tisknout sestavy po je&dné"),
                        QStringLiteral("Při tisku sestav po jedné se Tarnyx vždy po dokončení "
                                       "tisku jedné sestavy \npřepne do režimu pozastavení."),
                        page);
    CheckErase = checkBox(QStringLiteral("Po vytištění sestavu s&mazat"),
                          QStringLiteral("Vytištěné sestavy mohou být buď smazány nebo přesunuty "
                                         "do záložního adresáře."),
                          page);

    auto* grid = new QGridLayout(page);
    grid->addWidget(buddyLabel(QStringLiteral("&Adresáře:"), EditDir), 0, 0);
    grid->addWidget(EditDir, 0, 1);
    grid->addWidget(ButtonDir, 0, 2);
    grid->addWidget(buddyLabel(QStringLiteral("&Tiskárna:"), ComboPrn), 1, 0);
    grid->addWidget(ComboPrn, 1, 1);
    grid->addWidget(ButtonPrn, 1, 2);
    grid->addWidget(buddyLabel(QStringLiteral("&Písmo:"), ComboFont), 2, 0);
    grid->addWidget(ComboFont, 2, 1);
    grid->addWidget(CheckOne, 3, 1, 1, 2);
    grid->addWidget(CheckErase, 4, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, 300);
    grid->setRowStretch(5, 1);
    return page;
}

QWidget* TFormSetup::createOrientationTab()
{
    auto* page = new QWidget;
    auto* group = new QGroupBox(QStringLiteral(" Orientace stránky sestavy "), page);
    RadioOrDefault = new QRadioButton(QStringLiteral("&Na šířku nad počet znaků:"), group);
    RadioOrDefault->setToolTip(
        QStringLiteral("Sestavy, které jsou širší než zadaný počet znaků, \nbudou tištěny na šířku "
                       "(\"naležato\"), ostatní na výšku."));
    EditPortrait = new WidthEdit(group);
    EditPortrait->setMaxLength(3);
    EditPortrait->setToolTip(QStringLiteral("Šířka sestavy (ve znacích), nad kterou se bude "
                                            "tisknout na šířku.\nVýchozí hodnota je 96."));
    RadioOrUnknown = new QRadioButton(QStringLiteral("&Individuálně:         -->"), group);
    RadioOrUnknown->setToolTip(QStringLiteral(
        "Orientaci stránky sestavy (na šířku nebo na výšku) určí uživatel u každé sestavy "
        "individuálně.\nPouze při prvním tisku sestavy se Tarnyx zeptá na orientaci sestavy a "
        "nastavení si uloží.\nUložené orientace je možné kdykoli upravit."));
    ButtonOrient = new QPushButton(group);
    ButtonOrient->setAutoDefault(false);
    BindButton(ButtonOrient, actOrient);
    RadioOrPortrait = new QRadioButton(QStringLiteral("Vždy na &výšku"), group);
    RadioOrPortrait->setToolTip(
        QStringLiteral("Všechny sestavy se budou tisknout vždy na výšku (\"nastojato\")."));
    RadioOrLandscape = new QRadioButton(QStringLiteral("Vždy na &šířku"), group);
    RadioOrLandscape->setToolTip(
        QStringLiteral("Všechny sestavy se budou tisknout vždy na šířku (\"naležato\")."));

    m_orientation = new QButtonGroup(this);
    m_orientation->addButton(RadioOrDefault, OrientByWidth);
    m_orientation->addButton(RadioOrUnknown, OrientPerTitle);
    m_orientation->addButton(RadioOrPortrait, OrientPortrait);
    m_orientation->addButton(RadioOrLandscape, OrientLandscape);

    auto* grid = new QGridLayout(group);
    grid->addWidget(RadioOrDefault, 0, 0);
    grid->addWidget(EditPortrait, 0, 1);
    grid->addWidget(RadioOrUnknown, 1, 0);
    grid->addWidget(ButtonOrient, 1, 1);
    grid->addWidget(RadioOrPortrait, 2, 0);
    grid->addWidget(RadioOrLandscape, 3, 0);
    grid->setColumnStretch(2, 1);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

QWidget* TFormSetup::createPageTab()
{
    auto* page = new QWidget;
    RadioIndent = new QGroupBox(QStringLiteral(" Text na stránce "), page);
    RadioIndent->setToolTip(QStringLiteral(
        "Text sestavy na vytištěné stránce je možné odsazovat vždy vpravo, \nnebo střídavě "
        "odsazovat (na lichých stránkách vpravo, na sudých vlevo), \npřípadně ho na každé "
        "stránce umístit doprostřed oblasti, \nvymezené okraji stránky v nastavení tiskárny."));
    m_indent = new QButtonGroup(this);
    auto* indentGrid = new QGridLayout(RadioIndent);
    const QStringList items = {QStringLiteral("&Neodsazovat"), QStringLiteral("&Odsazovat"),
                               QStringLiteral("&Střídavě odsazovat"), QStringLiteral("&Centrovat")};
    // Two columns, filled column by column.
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items.at(i), RadioIndent);
        m_indent->addButton(radio, i);
        indentGrid->addWidget(radio, i % 2, i / 2);
    }

    GroupBorder = new QGroupBox(QStringLiteral(" Okraje "), page);
    GroupBorder->setToolTip(
        QStringLiteral("Okraje (horní, dolní, levý, pravý), vymezující oblast tisku na stránce. "
                       "\nTyto okraje jsou uvnitř oblasti, vymezené okraji stránky v nastavení "
                       "tiskárny."));
    SpinTop = marginField(GroupBorder);
    SpinLeft = marginField(GroupBorder);
    SpinRight = marginField(GroupBorder);
    SpinBottom = marginField(GroupBorder);
    auto* cross = new QGridLayout(GroupBorder);
    cross->addWidget(SpinTop, 0, 1);
    cross->addWidget(SpinLeft, 1, 0);
    cross->addWidget(SpinRight, 1, 2);
    cross->addWidget(SpinBottom, 2, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(RadioIndent);
    layout->addWidget(GroupBorder);
    layout->addStretch(1);
    return page;
}

QWidget* TFormSetup::createGeneralTab()
{
    auto* page = new QWidget;
    CheckAutorun = checkBox(
        QStringLiteral("Spouštět při startu &Windows"),
        QStringLiteral("Program bude spuštěn automaticky při každém startu Windows."), page);
    CheckPause =
        checkBox(QStringLiteral("Spouštět v režimu po&zastavení"),
                 QStringLiteral("Po svém spuštění bude Tarnyx v režimu pozastavení."), page);
    CheckIconize = checkBox(QStringLiteral("Minimalizovat program do i&kony"), QString(), page);
    CheckHints = checkBox(QStringLiteral("Zobrazovat textové popi&sky"),
                          QStringLiteral("Zapne zobrazování krátkých nápovědných textů."), page);
    CheckPriority =
        checkBox(QStringLiteral("&Vyšší uroveň priority tiskového procesu"),
                 QStringLiteral("Zvýší prioritu tiskového procesu, což může zrychlit průběh tisku "
                                "na pozadí\nu Windows 95/98/ME."),
                 page);
    CheckTaskbar = checkBox(QStringLiteral("&Okna sestav na hlavním panelu"),
                            QStringLiteral("Zobrazí na hlavním panelu systému Microsoft Windows "
                                           "tlačítko pro každou sestavu,\notevřenou v Prohlížeči "
                                           "sestav."),
                            page);
    CheckTaskbar->setEnabled(false);
    CheckUpdate = checkBox(QStringLiteral("&Zjišťovat dostupnost &nové verze"),
                           QStringLiteral("Tarnyx bude zjišťovat dostupnost novější verze na "
                                          "Internetu \na případně ji automaticky stáhne a "
                                          "nainstaluje."),
                           page);
    auto* layout = new QVBoxLayout(page);
    for (QCheckBox* box : {CheckAutorun, CheckPause, CheckIconize, CheckHints, CheckPriority,
                           CheckTaskbar, CheckUpdate})
        layout->addWidget(box);
    layout->addStretch(1);
    return page;
}

QWidget* TFormSetup::createInternetTab()
{
    auto* page = new QWidget;
    auto* group = new QGroupBox(QStringLiteral(" Proxy "), page);
    group->setToolTip(QStringLiteral("Pokud to vyžaduje Vaše připojení, nastavte odpovídající "
                                     "adresu a port \nproxy serveru pro připojení do Internetu "
                                     "protokolem HTTP."));
    CheckBoxProxy = new QCheckBox(QStringLiteral("Připojení přes HTTP &proxy"), group);
    EditProxyAddr = new QLineEdit(group);
    EditProxyPort = new QLineEdit(group);
    EditProxyPort->setMaximumWidth(80);
    auto* grid = new QGridLayout(group);
    grid->addWidget(CheckBoxProxy, 0, 0, 1, 2);
    grid->addWidget(buddyLabel(QStringLiteral("A&dresa:"), EditProxyAddr), 1, 0);
    grid->addWidget(EditProxyAddr, 1, 1);
    grid->addWidget(buddyLabel(QStringLiteral("Po&rt:"), EditProxyPort), 2, 0);
    grid->addWidget(EditProxyPort, 2, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

void TFormSetup::FormCreate()
{
    ApplyFormLook(this, m_settings);
    PageControl1->setCurrentIndex(0);
    SpinTop->setMaximum(100);
    SpinBottom->setMaximum(100);
    SpinLeft->setMaximum(50);
    SpinRight->setMaximum(50);
    EditDir->setText(m_settings.Directories);
    FillPrinterList();

    for (const auto& [box, setting] : CheckBoxSettings())
        box->setChecked(m_settings.*setting);
    EditPortrait->setValue(m_settings.MaxPortrait);
    switch (m_settings.Orientation) {
    case OrientPerTitle:
        RadioOrUnknown->setChecked(true);
        break;
    case OrientPortrait:
        RadioOrPortrait->setChecked(true);
        break;
    case OrientLandscape:
        RadioOrLandscape->setChecked(true);
        break;
    default:
        RadioOrDefault->setChecked(true);
        break;
    }
    UpdateOrientButtons();
    if (QAbstractButton* radio = m_indent->button(m_settings.Indent))
        radio->setChecked(true);
    SpinTop->setValue(m_settings.Borders.top());
    SpinLeft->setValue(m_settings.Borders.left());
    SpinRight->setValue(m_settings.Borders.right());
    SpinBottom->setValue(m_settings.Borders.bottom());
    EditProxyAddr->setText(m_settings.ProxyAddr);
    EditProxyPort->setText(m_settings.ProxyPort);

    FillFontList();
    m_savedPrinter = m_printers.currentPrinter();
    EditPortrait->setRange(kMinPortrait, kMaxPortrait);
    UpdateProxyFields();
}

QList<std::pair<QCheckBox*, bool TAppSettings::*>> TFormSetup::CheckBoxSettings() const
{
    return {
        {CheckOne, &TAppSettings::PrintByOne},        {CheckErase, &TAppSettings::Erase},
        {CheckAutorun, &TAppSettings::Autorun},       {CheckPause, &TAppSettings::RunPaused},
        {CheckIconize, &TAppSettings::Iconize},       {CheckHints, &TAppSettings::ShowHints},
        {CheckPriority, &TAppSettings::HighPriority}, {CheckTaskbar, &TAppSettings::WndTaskbar},
        {CheckUpdate, &TAppSettings::VerCheck},       {CheckBoxProxy, &TAppSettings::ProxyServer}};
}

void TFormSetup::FillPrinterList()
{
    const QStringList installed = m_printers.printerNames();
    ComboPrn->clear();
    ComboPrn->addItem(kNoPrinter);
    ComboPrn->addItems(installed);
    int selected = 0; // "[žádná]"
    if (!m_settings.Printer.isEmpty()) {
        const QString found = FindInstalledPrinter(installed, m_settings.Printer);
        selected = found.isEmpty() ? -1 : int(installed.lastIndexOf(found)) + 1;
    }
    ComboPrn->setCurrentIndex(selected);
}

void TFormSetup::FillFontList()
{
    ComboFont->clear();
    if (ComboPrn->currentIndex() <= 0)
        return;
    ComboFont->addItems(m_services.fontNames());
    ComboFont->setCurrentIndex(ComboFont->findText(m_settings.Font, Qt::MatchFixedString));
}

void TFormSetup::ComboPrnChange(int index)
{
    if (index > 0)
        m_printers.setCurrentPrinter(ComboPrn->itemText(index));
    FillFontList();
}

void TFormSetup::UpdateOrientButtons()
{
    actOrient->setEnabled(RadioOrUnknown->isChecked());
    EditPortrait->setEnabled(RadioOrUnknown->isChecked() || RadioOrDefault->isChecked());
}

void TFormSetup::UpdateProxyFields()
{
    EditProxyAddr->setEnabled(CheckBoxProxy->isChecked());
    EditProxyPort->setEnabled(CheckBoxProxy->isChecked());
}

QString TFormSetup::CorrectWidth(const QString& text)
{
    const std::optional<int> width = wholeNumber(text);
    if (!width)
        return QStringLiteral("96");
    return QString::number(std::clamp(*width, kMinPortrait, kMaxPortrait));
}

QString TFormSetup::CorrectPort(const QString& text)
{
    const std::optional<int> port = wholeNumber(text);
    if (!port || *port < 1 || *port > 65535)
        return QStringLiteral("8080");
    return QString::number(*port);
}

QString TFormSetup::NormaliseDirectories(const QString& text)
{
    QString result;
    for (const QString& entry : TrimText(text).split(u';', Qt::SkipEmptyParts)) {
        QString dir = entry;
        dir.remove(u'"');
        result += platform::IncludeTrailingPathDelimiter(TrimText(dir)) + u';';
    }
    while (result.endsWith(u';'))
        result.chop(1);
    return result;
}

void TFormSetup::EditDirExit()
{
    const QString normalised = NormaliseDirectories(EditDir->text());
    if (normalised != EditDir->text())
        EditDir->setText(normalised);
}

void TFormSetup::EditProxyPortExit()
{
    EditProxyPort->setText(CorrectPort(EditProxyPort->text()));
}

void TFormSetup::actDirExecute()
{
    QString directories = EditDir->text();
    if (m_services.directoriesDialog(this, directories))
        EditDir->setText(directories);
}

void TFormSetup::actPrnExecute()
{
    if (ComboPrn->currentIndex() <= 0) {
        MessageDlg(QStringLiteral("Tiskárna %1 neprovádí žádný textový výstup, tištěná sestava "
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

void TFormSetup::actHelpExecute()
{
    m_services.closeHelp();
    m_services.showHelp(this, SetupHelpTopic(PageControl1->currentIndex() + 1));
}

void TFormSetup::UpdateAutorun() const
{
    const QString value = Morvane().ProductKey;
    const QString entry = platform::autostart::userEntryPath(value);
    if (m_settings.Autorun)
        platform::autostart::writeCommand(
            entry, value, AutostartCommandLine(m_services.programPath, m_settings.Iconize));
    else
        platform::autostart::remove(entry);
}

void TFormSetup::accept()
{
    // Fields that are still being typed in are corrected as if they had been left.
    EditDirExit();
    EditPortrait->setText(CorrectWidth(EditPortrait->text()));
    if (CheckBoxProxy->isChecked())
        EditProxyPortExit();

    TAppSettings& s = m_settings;
    s.Directories = EditDir->text();
    if (ComboPrn->currentIndex() <= 0) {
        s.Printer.clear();
    } else {
        s.Printer = ComboPrn->currentText();
        s.Font = ComboFont->currentText();
    }
    for (const auto& [box, setting] : CheckBoxSettings())
        s.*setting = box->isChecked();
    s.MaxPortrait = EditPortrait->value();
    s.Indent = quint8(std::max(m_indent->checkedId(), 0));
    s.Borders =
        QMargins(SpinLeft->value(), SpinTop->value(), SpinRight->value(), SpinBottom->value());
    if (RadioOrUnknown->isChecked())
        s.Orientation = OrientPerTitle;
    else if (RadioOrPortrait->isChecked())
        s.Orientation = OrientPortrait;
    else if (RadioOrLandscape->isChecked())
        s.Orientation = OrientLandscape;
    else
        s.Orientation = OrientByWidth;
    if (s.ProxyServer) {
        s.ProxyAddr = TrimText(EditProxyAddr->text());
        s.ProxyPort = TrimText(EditProxyPort->text());
    }
    UpdateAutorun();
    // The settings apply for this session either way; the user learns that they will not last.
    if (!s.SaveSettings())
        MessageDlg(QStringLiteral("Nastavení se nepodařilo uložit do souboru %1.")
                       .arg(TMvRegIni::hivePath()),
                   MsgKind::Error, {MsgButton::Ok}, QString(), this);
    SetShowHints(s.ShowHints);
    QDialog::accept();
}

void TFormSetup::reject()
{
    const bool printersInstalled = ComboPrn->count() > 1;
    if (printersInstalled && !m_services.documentInProgress())
        m_printers.setCurrentPrinter(m_savedPrinter);
    QDialog::reject();
}
