#include "app/CrashReportDialog.h"

#include "core/platform/OutputFile.h"
#include "gui/common/MessageDlg.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QString messageFor(CrashReportDialog::Occasion occasion)
{
    const QString advice = QStringLiteral("Zprávu o chybě si můžete uložit do souboru a předat ji "
                                          "správci nebo dodavateli programu.");
    if (occasion == CrashReportDialog::Occasion::ErrorNow)
        return QStringLiteral("V programu došlo k neočekávané chybě. Program se nyní ukončí, "
                              "spusťte jej prosím znovu.\n") +
               advice;
    return QStringLiteral("Program Tarnyx byl minule neočekávaně ukončen.\n") + advice;
}

} // namespace

CrashReportDialog::CrashReportDialog(Occasion occasion, const QString& report, QWidget* parent)
    : QDialog(parent), m_report(report)
{
    setObjectName(QStringLiteral("FormCrashReport"));
    setWindowTitle(QStringLiteral("Tarnyx - Chyba programu"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* icon = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(iconSize));
    icon->setAlignment(Qt::AlignTop);
    m_ui.message = new QLabel(messageFor(occasion), this);
    m_ui.message->setTextFormat(Qt::PlainText);
    m_ui.message->setWordWrap(true);

    m_ui.reportText = new QPlainTextEdit(this);
    m_ui.reportText->setObjectName(QStringLiteral("reportText"));
    m_ui.reportText->setReadOnly(true);
    m_ui.reportText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_ui.reportText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_ui.reportText->setPlainText(report);

    m_ui.saveButton = new QPushButton(QStringLiteral("&Uložit zprávu..."), this);
    m_ui.copyButton = new QPushButton(QStringLiteral("&Kopírovat"), this);
    m_ui.closeButton =
        new QPushButton(occasion == Occasion::ErrorNow ? QStringLiteral("&Ukončit program")
                                                       : QStringLiteral("Zavřít"),
                        this);
    m_ui.closeButton->setDefault(true);
    connect(m_ui.saveButton, &QPushButton::clicked, this, &CrashReportDialog::saveReport);
    connect(m_ui.copyButton, &QPushButton::clicked, this, &CrashReportDialog::copyReport);
    connect(m_ui.closeButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(m_ui.message, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_ui.saveButton);
    buttons->addWidget(m_ui.copyButton);
    buttons->addStretch(1);
    buttons->addWidget(m_ui.closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_ui.reportText, 1);
    layout->addLayout(buttons);
    resize(640, 440);
    m_ui.closeButton->setFocus();
}

QString CrashReportDialog::chooseFile(const QString& proposed)
{
    if (m_chooseSaveFile)
        return m_chooseSaveFile(this, proposed);
    QFileDialog dialog(this, QString(), proposed, QStringLiteral("Textové soubory (*.txt)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

bool CrashReportDialog::saveReport()
{
    const QString proposed = QDir::home().filePath(
        QStringLiteral("tarnyx-chyba-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
        QStringLiteral(".txt"));
    const QString path = chooseFile(proposed);
    if (path.isEmpty())
        return false;
    const QString shown = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (QFileInfo::exists(path) &&
        messageDlg(QStringLiteral("Soubor %1 již existuje.\rChcete jej přepsat?").arg(shown),
                   MsgKind::Confirmation, {MsgButton::Yes, MsgButton::No}, {},
                   this) != MsgButton::Yes)
        return false;
    const platform::SaveResult saved = platform::saveOutputFile(path, m_report.toUtf8());
    if (!saved.saved) {
        messageDlg(QStringLiteral("Zprávu se nepodařilo uložit do souboru %1.\r%2")
                       .arg(shown, saved.error),
                   MsgKind::Error, {MsgButton::Ok}, {}, this);
        return false;
    }
    messageDlg(QStringLiteral("Zpráva byla uložena do souboru\r%1").arg(shown),
               MsgKind::Information, {MsgButton::Ok}, QStringLiteral("Uložení do souboru"), this);
    return true;
}

void CrashReportDialog::copyReport()
{
    QGuiApplication::clipboard()->setText(m_report);
}

void showCrashReport(CrashReportDialog::Occasion occasion, const QString& report)
{
    CrashReportDialog dialog(occasion, report);
    dialog.exec();
}
