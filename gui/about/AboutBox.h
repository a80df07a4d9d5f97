#pragma once

#include <QDate>
#include <QDialog>
#include <QLocale>
#include <QString>

#include <optional>

class QFrame;
class QLabel;
class QPushButton;

// The texts the about box shows.
struct AboutTexts
{
    QString caption;     // the window's title
    QString company;     // the maker
    QString productName; // when empty, the application's display name is shown
    QString version;     // the whole version line
    QString copyright;
    QString www;       // shown as a link, opened in the browser
    QString email;     // shown as a link
    QString emailLink; // what the e-mail link opens after "mailto:"; the e-mail when empty
};

// The day this build was released, compiled in.
QDate releaseDate();

// "Verze <version> z <day>": the version in the short form the box shows ("1.05.12" for
// 1.5.0.12, nothing for a version of fewer than four numbers) and the day as d.M.yyyy.
QString aboutVersionLine(const QString& version, const QDate& released);

// The about box's texts for this program.
AboutTexts programAboutTexts();

// How an operating system's build number is reported: the 9x family kept only its low 16 bits,
// the NT family the whole number; other systems show none.
enum class OsFamily
{
    Other,
    Windows9x,
    WindowsNt
};

struct OsDescription
{
    QString name;    // the system's name
    QString edition; // its edition, may be empty
    int major = 0;
    int minor = 0;
    quint32 build = 0;
    QString servicePack; // extra release text, may be empty
    OsFamily family = OsFamily::Other;
};

// The operating system line of the box: "name major.minor", followed by "  (Build n: text)"
// when there is a service pack text or "(Build n)" when not; the build only in the 9x and NT
// families.
QString osLine(const OsDescription& os);

// This machine's operating system, as osLine describes it.
OsDescription currentOsDescription();

// Bytes of physical memory of this machine; nothing when the system does not tell.
std::optional<quint64> physicalMemoryBytes();

// Whole kilobytes (bytes / 1024, rounded down), digits grouped by thousands with the locale's
// group separator, then " KB".
QString physicalMemoryText(quint64 bytes, const QLocale& locale);

// The modal about box: the product with its maker, version, copyright and links to its web page
// and support e-mail; below a line the operating system and the physical memory. Centred on the
// screen; OK (also Enter and Esc) closes it.
class AboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit AboutBox(const AboutTexts& texts, QWidget* parent = nullptr);

    struct Widgets
    {
        QLabel* icon = nullptr;
        QLabel* company = nullptr;
        QLabel* productName = nullptr;   // in front
        QLabel* productShadow = nullptr; // the grey copy behind it
        QLabel* version = nullptr;
        QLabel* copyright = nullptr;
        QLabel* www = nullptr;
        QLabel* email = nullptr;
        QFrame* separator = nullptr;
        QLabel* os = nullptr;
        QLabel* memoryCaption = nullptr;
        QLabel* memory = nullptr;
        QPushButton* ok = nullptr;
    };
    const Widgets& ui() const { return m_ui; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void layOut();
    void openWww();
    void openEmail();

    Widgets m_ui{};
    QString m_emailLink;
};

// Shows the about box of this program and returns when it is closed. The box stays above `owner`
// while that is on the screen.
void showAboutBox(QWidget* owner);
