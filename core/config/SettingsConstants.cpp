#include "core/config/SettingsConstants.h"

#include "core/config/RegistryIni.h"
#include "core/platform/CommandLine.h"

#include <algorithm>

namespace {
const QString kSettings = QStringLiteral("Settings");
}

SettingsConstants& settingsConstants()
{
    static SettingsConstants constants;
    return constants;
}

QString defaultUrlFileInf()
{
    return QStringLiteral(TARNYX_WEB_HOST "/qel/file/reldp.inf");
}

QString defaultUrlTarnyx()
{
    return QStringLiteral(TARNYX_WEB_HOST "/qel/tarnyx.htm");
}

void loadSettingsConstants(const QStringList& args)
{
    productKeys().productKey = QStringLiteral("Tarnyx");
    SettingsConstants& c = settingsConstants();
    c = SettingsConstants{};
    const RegistryIni ini(productKeys().registryRoot());

    const std::optional<int> timeout =
        ini.readInteger(kSettings, QStringLiteral("SocketTimeout"), 30000);
    if (!timeout)
        return;
    c.socketTimeout = std::clamp(*timeout, 5000, 300000);
    const std::optional<QString> fileInf =
        ini.readString(kSettings, QStringLiteral("urlFileInf"), defaultUrlFileInf());
    if (!fileInf)
        return;
    c.urlFileInf = *fileInf;
    const std::optional<QString> home =
        ini.readString(kSettings, QStringLiteral("urlTarnyx"), defaultUrlTarnyx());
    if (!home)
        return;
    c.urlTarnyx = *home;

    if (platform::findCmdLineSwitch(args, QStringLiteral("RegSaveSettings"))) {
        // A failed write ends the writing; the rest keeps its stored values.
        if (ini.writeInteger(kSettings, QStringLiteral("SocketTimeout"), c.socketTimeout) &&
            ini.writeString(kSettings, QStringLiteral("urlFileInf"), c.urlFileInf))
            ini.writeString(kSettings, QStringLiteral("urlTarnyx"), c.urlTarnyx);
    }
}
