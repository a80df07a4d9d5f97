#include "gui/about/AboutBox.h"

#include "core/config/RegistryIni.h"
#include "core/config/SettingsConstants.h"
#include "core/update/VersionInfo.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "gui/common/Pictures.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSysInfo>
#include <QUrl>

#include <sys/sysinfo.h>

#include <algorithm>

namespace {

constexpr int kClientWidth = 392;
constexpr int kMargin = 8;
constexpr int kIconSize = 41;
constexpr int kTextLeft = kMargin + kIconSize + 12;
constexpr int kShadowOffset = 2;

QLabel* plainLabel(QWidget* parent, const QString& text)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

void setTextColor(QLabel* label, const QColor& color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

// Places a one-line label at its natural size and returns its bottom edge.
int place(QLabel* label, int left, int top)
{
    label->setGeometry(QRect(QPoint(left, top), label->sizeHint()));
    return label->geometry().bottom() + 1;
}

} // namespace

QDate releaseDate()
{
    return QDate::fromString(QStringLiteral(TARNYX_RELEASE_DATE), Qt::ISODate);
}

QString aboutVersionLine(const QString& version, const QDate& released)
{
    const QString day =
        released.isValid() ? released.toString(QStringLiteral("d.M.yyyy")) : QString();
    return QStringLiteral("Verze %1 z %2").arg(displayVersion(version), day);
}

AboutTexts programAboutTexts()
{
    AboutTexts texts;
    texts.productName = productKeys().productKey;
    texts.caption = QStringLiteral("O aplikaci ") + texts.productName;
    texts.company = QStringLiteral("Morvane");
    texts.version = aboutVersionLine(programVersion(), releaseDate());
    texts.copyright = QStringLiteral("Copyright © 2026 Morvane");
    texts.www = settingsConstants().urlTarnyx;
    texts.email = QStringLiteral("podpora@morvane.example");
    texts.emailLink = texts.email + QStringLiteral("?subject=") + texts.productName;
    return texts;
}

QString osLine(const OsDescription& os)
{
    quint32 build = 0;
    if (os.family == OsFamily::Windows9x)
        build = os.build & 0xFFFF;
    else if (os.family == OsFamily::WindowsNt)
        build = os.build;
    // Name and edition with one blank between them, only when both are there.
    QStringList parts;
    for (const QString& part : {os.name.trimmed(), os.edition.trimmed()})
        if (!part.isEmpty())
            parts << part;
    const QString version =
        parts.join(u' ') + u' ' + QString::number(os.major) + u'.' + QString::number(os.minor);
    if (os.family == OsFamily::Other)
        return version;
    if (!os.servicePack.isEmpty())
        return version + QStringLiteral("  (Build %1: %2)").arg(build).arg(os.servicePack);
    return version + QStringLiteral("(Build %1)").arg(build);
}

OsDescription currentOsDescription()
{
    // The distribution stands where the Windows version's name would ("Debian GNU/Linux 12
    // (bookworm)"); Linux has no editions. The kernel stands for the Windows kernel's version, as
    // on Windows the numbers are the kernel's rather than the product's: the first two numbers of
    // its release are major and minor, the third the build, and the whole release text (such as
    // "6.1.0-18-amd64") takes the service pack's place. The build is reported whole, as the NT
    // family's is.
    OsDescription os;
    os.name = QSysInfo::prettyProductName();
    const QString kernel = QSysInfo::kernelVersion();
    QList<int> numbers;
    for (const QString& item : kernel.split(u'.')) {
        qsizetype digits = 0;
        while (digits < item.size() && digits < 9 && item[digits].isDigit())
            ++digits;
        if (digits == 0 || numbers.size() == 3)
            break;
        numbers << item.first(digits).toInt();
        if (digits < item.size())
            break;
    }
    if (numbers.isEmpty())
        return os;
    os.family = OsFamily::WindowsNt;
    os.major = numbers.value(0);
    os.minor = numbers.value(1);
    os.build = quint32(numbers.value(2));
    os.servicePack = kernel;
    return os;
}

std::optional<quint64> physicalMemoryBytes()
{
    struct sysinfo info = {};
    if (sysinfo(&info) != 0)
        return std::nullopt;
    return quint64(info.totalram) * quint64(info.mem_unit);
}

QString physicalMemoryText(quint64 bytes, const QLocale& locale)
{
    const QString digits = QString::number(bytes / 1024);
    const QString separator = locale.groupSeparator();
    QString grouped;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += separator;
        grouped += digits[i];
    }
    return grouped + QStringLiteral(" KB");
}

AboutBox::AboutBox(const AboutTexts& texts, QWidget* parent) : QDialog(parent, kFixedDialogFlags)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(texts.caption);
    const QString product =
        texts.productName.isEmpty() ? QGuiApplication::applicationDisplayName() : texts.productName;

    m_ui.icon = new QLabel(this);
    m_ui.icon->setPixmap(pictures::applicationIcon().pixmap(kIconSize, kIconSize));
    m_ui.icon->setAlignment(Qt::AlignCenter);
    m_ui.company = plainLabel(this, texts.company);

    // The name in large bold letters over a grey copy of itself, a little lower and to the right:
    // a drop shadow. Labels draw no background of their own, so the shadow shows through.
    QFont nameFont(QStringLiteral("Courier New"));
    nameFont.setPixelSize(29);
    nameFont.setBold(true);
    m_ui.productShadow = plainLabel(this, product);
    m_ui.productName = plainLabel(this, product);
    for (QLabel* label : {m_ui.productShadow, m_ui.productName})
        label->setFont(nameFont);
    setTextColor(m_ui.productShadow, QColor(0x80, 0x80, 0x80));
    setTextColor(m_ui.productName, Qt::black);

    m_ui.version = plainLabel(this, texts.version);
    m_ui.copyright = plainLabel(this, texts.copyright);
    m_ui.www = plainLabel(this, texts.www);
    m_ui.email = plainLabel(this, texts.email);
    m_emailLink = texts.emailLink;
    for (QLabel* link : {m_ui.www, m_ui.email}) {
        QFont font = link->font();
        font.setUnderline(true);
        link->setFont(font);
        setTextColor(link, QColor(0x00, 0x00, 0x80));
        link->setCursor(Qt::PointingHandCursor);
        link->installEventFilter(this);
    }

    m_ui.separator = new QFrame(this);
    m_ui.separator->setFrameShape(QFrame::HLine);
    m_ui.separator->setFrameShadow(QFrame::Sunken);

    m_ui.os = plainLabel(this, osLine(currentOsDescription()));
    m_ui.os->setWordWrap(true);
    m_ui.os->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_ui.memoryCaption = plainLabel(this, QStringLiteral("Fyzická paměť systému:"));
    const std::optional<quint64> memory = physicalMemoryBytes();
    m_ui.memory = plainLabel(this, memory ? physicalMemoryText(*memory, QLocale()) : QString());
    m_ui.memory->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.ok->setDefault(true);
    connect(m_ui.ok, &QPushButton::clicked, this, &QDialog::accept);

    layOut();
    m_ui.ok->setFocus();
}

void AboutBox::layOut()
{
    m_ui.icon->setGeometry(kMargin, kMargin, kIconSize, kIconSize);
    int bottom = place(m_ui.company, kTextLeft, kMargin);
    bottom = place(m_ui.productName, kTextLeft, bottom + 2);
    m_ui.productShadow->setGeometry(
        m_ui.productName->geometry().translated(kShadowOffset, kShadowOffset));
    m_ui.productShadow->lower();
    bottom = place(m_ui.version, kTextLeft, bottom + kShadowOffset + 2);
    bottom = place(m_ui.copyright, kTextLeft, bottom + 2);
    bottom = place(m_ui.www, kTextLeft, bottom + 2);
    bottom = place(m_ui.email, kTextLeft, bottom + 2);

    // As wide as designed, wider only when a line would not fit.
    int width = kClientWidth;
    for (const QLabel* label :
         {m_ui.company, m_ui.productShadow, m_ui.version, m_ui.copyright, m_ui.www, m_ui.email})
        width = std::max(width, label->geometry().right() + 1 + kMargin);
    const QSize memorySize = m_ui.memory->sizeHint();
    const QSize captionSize = m_ui.memoryCaption->sizeHint();
    width = std::max(width, 2 * kMargin + captionSize.width() + 8 + memorySize.width());
    const int inner = width - 2 * kMargin;

    const int lineTop = std::max(bottom, kMargin + kIconSize) + kMargin;
    m_ui.separator->setGeometry(kMargin, lineTop, inner, 2);

    // The lower part follows the height of a line of the memory caption's font: the system line
    // two lines high, the memory a third of a line below it, OK half a line below that, and half
    // of OK's height under OK.
    const int h =
        m_ui.memoryCaption->fontMetrics().size(Qt::TextSingleLine, QStringLiteral("Áy")).height();
    const int osTop = lineTop + 2 + kMargin;
    m_ui.os->setGeometry(kMargin, osTop, inner, 2 * h);
    const int memoryTop = osTop + 2 * h + h / 3;
    m_ui.memoryCaption->setGeometry(kMargin, memoryTop, captionSize.width(), h);
    m_ui.memory->setGeometry(width - kMargin - memorySize.width(), memoryTop, memorySize.width(),
                             h);
    const QSize okSize = m_ui.ok->sizeHint().expandedTo(QSize(75, 25));
    const int okTop = memoryTop + h + h / 2;
    m_ui.ok->setGeometry((width - okSize.width()) / 2, okTop, okSize.width(), okSize.height());
    setFixedSize(width, okTop + okSize.height() * 3 / 2);
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease &&
        (watched == m_ui.www || watched == m_ui.email)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* label = static_cast<QLabel*>(watched);
        if (mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            if (watched == m_ui.www)
                openWww();
            else
                openEmail();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AboutBox::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    centerOnScreen(this);
}

void AboutBox::openWww()
{
    // An address written without its scheme ("www.…") still opens as a web page.
    const QUrl url = QUrl::fromUserInput(m_ui.www->text());
    if (!QDesktopServices::openUrl(url))
        messageDlg(QStringLiteral("Nelze spustit www prohlížeč"), MsgKind::Error, {MsgButton::Ok},
                   {}, this);
}

void AboutBox::openEmail()
{
    const QString address = m_emailLink.isEmpty() ? m_ui.email->text() : m_emailLink;
    // A mail program that cannot be started is not reported.
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + address));
}

void showAboutBox(QWidget* owner)
{
    // A hidden owner (the main window in the tray) would take the box out of sight with it.
    QWidget* parent = owner && owner->isVisible() && !owner->isMinimized() ? owner : nullptr;
    // On the heap: should the owner go while the box is open, it takes the box along.
    QPointer<AboutBox> box = new AboutBox(programAboutTexts(), parent);
    box->exec();
    delete box.data();
}
