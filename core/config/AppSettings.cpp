#include "core/config/AppSettings.h"

#include "core/config/RegistryIni.h"
#include "core/platform/CommandLine.h"
#include "core/platform/PrinterCatalog.h"

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
    explicit Reader(const RegistryIni& ini) : m_ini(ini) {}

    bool text(const char16_t* ident, QString& field, const QString& def)
    {
        return take(m_ini.readString(kSettings, QString::fromUtf16(ident), def), field);
    }
    bool flag(const char16_t* ident, bool& field, bool def)
    {
        return take(m_ini.readBool(kSettings, QString::fromUtf16(ident), def), field);
    }
    // An integer limited to lo..hi, handed to `store`.
    template <typename Store>
    bool number(const char16_t* ident, int def, int lo, int hi, Store store)
    {
        const std::optional<int> v = m_ini.readInteger(kSettings, QString::fromUtf16(ident), def);
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
    const RegistryIni& m_ini;
};

} // namespace

std::optional<QString> checkedPrinterName(const QString& stored, const PrinterCatalog& printers)
{
    if (stored.isEmpty())
        return stored;
    // While the printing system cannot be asked (at login its scheduler may start after this
    // program), the stored name stands: each print job selects its printer anew.
    if (!printers.available())
        return std::nullopt;
    const QStringList installed = printers.printerNames();
    QString found = findInstalledPrinter(installed, stored);
    if (found.isEmpty() && !installed.isEmpty()) {
        // Without a default queue the stored name stands (its jobs fail and say why) rather
        // than whichever queue comes first.
        found = printers.defaultPrinterName();
        if (found.isEmpty())
            found = stored;
    }
    return found;
}

QString defaultDirectories()
{
    const QString lst = QDir(platform::programDirectory()).filePath(QStringLiteral("Lst"));
    if (QFileInfo(lst).isDir())
        return lst;
    return QDir::rootPath();
}

QStringList spoolDirectoryList(const QString& directories)
{
    return directories.split(u';', Qt::SkipEmptyParts);
}

QString autostartCommandLine(const QString& programPath, bool iconize)
{
    return QStringLiteral("\"%1\" %2")
        .arg(programPath, iconize ? QStringLiteral("/min") : QString());
}

bool AppSettings::load(PrinterCatalog& printers, PrinterCheck check)
{
    *this = AppSettings{};
    const std::unique_ptr<RegistryIni> ini = openSettings();
    Reader r(*ini);

    if (!r.text(u"Directories", directories, defaultDirectories()))
        return false;
    if (!r.text(u"Printer", printer, QString()))
        return false;
    // The printer found becomes the current one; an empty name leaves the current one as it is.
    if (!printer.isEmpty()) {
        if (check == PrinterCheck::AtLoad)
            printer = checkedPrinterName(printer, printers).value_or(printer);
        printers.setCurrentPrinter(printer);
    }
    constexpr int kMin = std::numeric_limits<int>::min();
    constexpr int kMax = std::numeric_limits<int>::max();
    if (!r.number(u"HintHidePause", 5000, kMin, kMax, [this](int v) { hintHidePause = v; }))
        return false;

    // Each field is filled as soon as its value is read, so a failure leaves exactly the later
    // fields in their zero state.
    const bool complete =
        r.text(u"Font", font, QStringLiteral("Courier New")) && r.flag(u"Erase", erase, true) &&
        r.flag(u"Iconize", iconize, true) && r.flag(u"Autorun", autorun, false) &&
        r.flag(u"RunPaused", runPaused, false) && r.flag(u"PrintByOne", printByOne, false) &&
        r.flag(u"ShowHints", showHints, true) &&
        r.number(u"MaxPortrait", 96, 80, 233, [this](int v) { maxPortrait = v; }) &&
        r.flag(u"HighPriority", highPriority, false) &&
        r.flag(u"ProxyServer", proxyServer, false) &&
        r.text(u"ProxyAddr", proxyAddr, QStringLiteral("127.0.0.1")) &&
        r.text(u"ProxyPort", proxyPort, QStringLiteral("8080")) &&
        r.flag(u"VerCheck", verCheck, true) &&
        r.number(u"LastVerCheck", 0, kMin, kMax, [this](int v) { lastVerCheck = v; }) &&
        r.number(u"Indent", 0, 0, 3, [this](int v) { indent = quint8(v); }) &&
        r.number(u"BorderLeft", 0, 0, 50, [this](int v) { borders.setLeft(v); }) &&
        r.number(u"BorderTop", 0, 0, 100, [this](int v) { borders.setTop(v); }) &&
        r.number(u"BorderRight", 0, 0, 50, [this](int v) { borders.setRight(v); }) &&
        r.number(u"BorderBottom", 0, 0, 100, [this](int v) { borders.setBottom(v); }) &&
        r.flag(u"SystemFont", systemFont, true);
    if (!complete)
        return false;

    wndTaskbar = false;
    QString orientationText;
    if (!r.text(u"Orientation", orientationText, QString()))
        return false;
    bool isNumber = false;
    const int code = orientationText.toInt(&isNumber, 10);
    orientation = isNumber ? quint8(code & 0xFF) : 0;
    return true;
}

bool AppSettings::save() const
{
    const std::unique_ptr<RegistryIni> ini = openSettings();
    auto text = [&ini](const char16_t* ident, const QString& v) {
        return ini->writeString(kSettings, QString::fromUtf16(ident), v);
    };
    auto flag = [&ini](const char16_t* ident, bool v) {
        return ini->writeBool(kSettings, QString::fromUtf16(ident), v);
    };
    auto number = [&ini](const char16_t* ident, int v) {
        return ini->writeInteger(kSettings, QString::fromUtf16(ident), v);
    };
    // One save of the registry file for all the values.
    return ini->batch([&] {
        return text(u"Directories", directories) && text(u"Printer", printer) &&
               text(u"Font", font) && flag(u"Erase", erase) && flag(u"Iconize", iconize) &&
               flag(u"Autorun", autorun) && flag(u"RunPaused", runPaused) &&
               flag(u"PrintByOne", printByOne) && flag(u"ShowHints", showHints) &&
               flag(u"HighPriority", highPriority) && number(u"MaxPortrait", maxPortrait) &&
               flag(u"ProxyServer", proxyServer) && text(u"ProxyAddr", proxyAddr) &&
               text(u"ProxyPort", proxyPort) && number(u"LastVerCheck", lastVerCheck) &&
               flag(u"VerCheck", verCheck) && number(u"Indent", indent) &&
               number(u"BorderLeft", borders.left()) && number(u"BorderTop", borders.top()) &&
               number(u"BorderRight", borders.right()) &&
               number(u"BorderBottom", borders.bottom()) && flag(u"SystemFont", systemFont) &&
               flag(u"WndTaskbar", wndTaskbar) &&
               text(u"Orientation", QString::number(orientation));
    });
}

void AppSettings::storeLastVerCheck(int day)
{
    lastVerCheck = day;
    openSettings()->writeInteger(kSettings, QStringLiteral("LastVerCheck"), lastVerCheck);
}
