#include "config/AppSettings.h"

#include "config/MvRegIni.h"
#include "platform/CommandLine.h"
#include "print/PrinterCatalog.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace {

const QString kSettings = QStringLiteral("Settings");

// Reads values of section "Settings" one after another; the first value that cannot be read
// stops the reading, and every later read is skipped.
class Reader
{
public:
    explicit Reader(const TMvRegIni& ini) : m_ini(ini) {}

    bool text(const char16_t* ident, QString& field, const QString& def)
    {
        return take(m_ini.ReadString(kSettings, QString::fromUtf16(ident), def), field);
    }
    bool flag(const char16_t* ident, bool& field, bool def)
    {
        return take(m_ini.ReadBool(kSettings, QString::fromUtf16(ident), def), field);
    }
    // An integer limited to lo..hi, handed to `store`.
    template <typename Store>
    bool number(const char16_t* ident, int def, int lo, int hi, Store store)
    {
        const std::optional<int> v = m_ini.ReadInteger(kSettings, QString::fromUtf16(ident), def);
        if (!v)
            return false;
        store(std::clamp(*v, lo, hi));
        return true;
    }

private:
    template <typename T> static bool take(const std::optional<T>& v, T& field)
    {
        if (!v)
            return false;
        field = *v;
        return true;
    }
    const TMvRegIni& m_ini;
};

// The stored printer name when it is installed (in the installed spelling); otherwise the default
// printer, or none when nothing is installed. The result becomes the current printer. While the
// printing system cannot be asked (at login its scheduler may start after this program), the
// stored name stands: each print job selects its printer anew.
QString validatePrinter(const QString& stored, PrinterCatalog& printers)
{
    if (stored.isEmpty())
        return stored;
    if (!printers.available()) {
        printers.setCurrentPrinter(stored);
        return stored;
    }
    const QStringList installed = printers.printerNames();
    QString found = FindInstalledPrinter(installed, stored);
    if (found.isEmpty() && !installed.isEmpty()) {
        // Without a default queue the stored name stands (its jobs fail and say why) rather
        // than whichever queue comes first.
        found = printers.defaultPrinterName();
        if (found.isEmpty())
            found = stored;
    }
    printers.setCurrentPrinter(found);
    return found;
}

} // namespace

QString DefaultDirectories()
{
    const QString lst = QDir(platform::programDirectory()).filePath(QStringLiteral("Lst"));
    if (QFileInfo(lst).isDir())
        return lst;
    return QDir::rootPath();
}

QString AutostartCommandLine(const QString& programPath, bool iconize)
{
    return QStringLiteral("\"%1\" %2")
        .arg(programPath, iconize ? QStringLiteral("/min") : QString());
}

bool TAppSettings::LoadSettings(PrinterCatalog& printers)
{
    *this = TAppSettings{};
    const std::unique_ptr<TMvRegIni> ini = OpenSettings();
    Reader r(*ini);

    if (!r.text(u"Directories", Directories, DefaultDirectories()))
        return false;
    if (!r.text(u"Printer", Printer, QString()))
        return false;
    Printer = validatePrinter(Printer, printers);
    constexpr int kMin = std::numeric_limits<int>::min();
    constexpr int kMax = std::numeric_limits<int>::max();
    if (!r.number(u"HintHidePause", 5000, kMin, kMax, [this](int v) { HintHidePause = v; }))
        return false;

    // Each field is filled as soon as its value is read, so a failure leaves exactly the later
    // fields in their zero state.
    const bool complete =
        r.text(u"Font", Font, QStringLiteral("Courier New")) && r.flag(u"Erase", Erase, true) &&
        r.flag(u"Iconize", Iconize, true) && r.flag(u"Autorun", Autorun, false) &&
        r.flag(u"RunPaused", RunPaused, false) && r.flag(u"PrintByOne", PrintByOne, false) &&
        r.flag(u"ShowHints", ShowHints, true) &&
        r.number(u"MaxPortrait", 96, 80, 233, [this](int v) { MaxPortrait = v; }) &&
        r.flag(u"HighPriority", HighPriority, false) &&
        r.flag(u"ProxyServer", ProxyServer, false) &&
        r.text(u"ProxyAddr", ProxyAddr, QStringLiteral("127.0.0.1")) &&
        r.text(u"ProxyPort", ProxyPort, QStringLiteral("8080")) &&
        r.flag(u"VerCheck", VerCheck, true) &&
        r.number(u"LastVerCheck", 0, kMin, kMax, [this](int v) { LastVerCheck = v; }) &&
        r.number(u"Indent", 0, 0, 3, [this](int v) { Indent = quint8(v); }) &&
        r.number(u"BorderLeft", 0, 0, 50, [this](int v) { Borders.setLeft(v); }) &&
        r.number(u"BorderTop", 0, 0, 100, [this](int v) { Borders.setTop(v); }) &&
        r.number(u"BorderRight", 0, 0, 50, [this](int v) { Borders.setRight(v); }) &&
        r.number(u"BorderBottom", 0, 0, 100, [this](int v) { Borders.setBottom(v); }) &&
        r.flag(u"SystemFont", SystemFont, true);
    if (!complete)
        return false;

    WndTaskbar = false;
    QString orientation;
    if (!r.text(u"Orientation", orientation, QString()))
        return false;
    bool isNumber = false;
    const int code = orientation.toInt(&isNumber, 10);
    Orientation = isNumber ? quint8(code & 0xFF) : 0;
    return true;
}

bool TAppSettings::SaveSettings() const
{
    const std::unique_ptr<TMvRegIni> ini = OpenSettings();
    auto text = [&ini](const char16_t* ident, const QString& v) {
        return ini->WriteString(kSettings, QString::fromUtf16(ident), v);
    };
    auto flag = [&ini](const char16_t* ident, bool v) {
        return ini->WriteBool(kSettings, QString::fromUtf16(ident), v);
    };
    auto number = [&ini](const char16_t* ident, int v) {
        return ini->WriteInteger(kSettings, QString::fromUtf16(ident), v);
    };
    // One save of the registry file for all the values.
    return ini->Batch([&] {
        return text(u"Directories", Directories) && text(u"Printer", Printer) &&
               text(u"Font", Font) && flag(u"Erase", Erase) && flag(u"Iconize", Iconize) &&
               flag(u"Autorun", Autorun) && flag(u"RunPaused", RunPaused) &&
               flag(u"PrintByOne", PrintByOne) && flag(u"ShowHints", ShowHints) &&
               flag(u"HighPriority", HighPriority) && number(u"MaxPortrait", MaxPortrait) &&
               flag(u"ProxyServer", ProxyServer) && text(u"ProxyAddr", ProxyAddr) &&
               text(u"ProxyPort", ProxyPort) && number(u"LastVerCheck", LastVerCheck) &&
               flag(u"VerCheck", VerCheck) && number(u"Indent", Indent) &&
               number(u"BorderLeft", Borders.left()) && number(u"BorderTop", Borders.top()) &&
               number(u"BorderRight", Borders.right()) &&
               number(u"BorderBottom", Borders.bottom()) && flag(u"SystemFont", SystemFont) &&
               flag(u"WndTaskbar", WndTaskbar) &&
               text(u"Orientation", QString::number(Orientation));
    });
}

void TAppSettings::StoreLastVerCheck() const
{
    OpenSettings()->WriteInteger(kSettings, QStringLiteral("LastVerCheck"), LastVerCheck);
}
