#include "config/TxConsts.h"

#include "config/MvRegIni.h"
#include "platform/CommandLine.h"

#include <algorithm>

namespace {
const QString kSettings = QStringLiteral("Settings");
}

SettingsConstants& TxConsts()
{
    static SettingsConstants constants;
    return constants;
}

QString DefaultUrlFileInf()
{
    return QStringLiteral(TARNYX_WEB_HOST "/qel/file/reldp.inf");
}

QString DefaultUrlTarnyx()
{
    return QStringLiteral(TARNYX_WEB_HOST "/qel/tarnyx.htm");
}

void LoadSettingsConstants(const QStringList& args)
{
    Morvane().ProductKey = QStringLiteral("Tarnyx");
    SettingsConstants& c = TxConsts();
    c = SettingsConstants{};
    const TMvRegIni ini(Morvane().RegistryRoot());

    const std::optional<int> timeout =
        ini.ReadInteger(kSettings, QStringLiteral("SocketTimeout"), 30000);
    if (!timeout)
        return;
    c.SocketTimeout = std::clamp(*timeout, 5000, 300000);
    const std::optional<QString> fileInf =
        ini.ReadString(kSettings, QStringLiteral("urlFileInf"), DefaultUrlFileInf());
    if (!fileInf)
        return;
    c.urlFileInf = *fileInf;
    const std::optional<QString> home =
        ini.ReadString(kSettings, QStringLiteral("urlTarnyx"), DefaultUrlTarnyx());
    if (!home)
        return;
    c.urlTarnyx = *home;

    if (platform::FindCmdLineSwitch(args, QStringLiteral("RegSaveSettings"))) {
        // A failed write ends the writing; the rest keeps its stored values.
        if (ini.WriteInteger(kSettings, QStringLiteral("SocketTimeout"), c.SocketTimeout) &&
            ini.WriteString(kSettings, QStringLiteral("urlFileInf"), c.urlFileInf))
            ini.WriteString(kSettings, QStringLiteral("urlTarnyx"), c.urlTarnyx);
    }
}
