#include "app/CliCommands.h"

#include "config/AppSettings.h"
#include "config/TxConsts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QTextStream>

#include <functional>
#include <utility>

namespace cli {

namespace {

// One JSON object whose keys keep the order they were added in.
class OrderedJson
{
public:
    void add(const QString& key, const QJsonValue& value)
    {
        m_items << QStringLiteral("  %1: %2").arg(encode(key), encode(value));
    }
    QString text() const
    {
        return QStringLiteral("{\n") + m_items.join(QStringLiteral(",\n")) + QStringLiteral("\n}");
    }

private:
    static QString encode(const QJsonValue& v)
    {
        const QByteArray array = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
        return QString::fromUtf8(array.mid(1, array.size() - 2));
    }
    QStringList m_items;
};

const char* const kUsage = "usage: tarnyx-cli COMMAND [ARGUMENTS]\n"
                           "commands:\n"
                           "  settings   print the effective settings as JSON\n";

} // namespace

int settings(Context& ctx, const QStringList& args)
{
    if (!args.isEmpty()) {
        ctx.err << "tarnyx-cli settings takes no arguments\n";
        return 2;
    }
    TAppSettings s;
    s.LoadSettings(ctx.printers);
    const SettingsConstants& c = TxConsts();

    OrderedJson json;
    json.add(QStringLiteral("Directories"), s.Directories);
    json.add(QStringLiteral("Printer"), s.Printer);
    json.add(QStringLiteral("Font"), s.Font);
    json.add(QStringLiteral("Erase"), s.Erase);
    json.add(QStringLiteral("Iconize"), s.Iconize);
    json.add(QStringLiteral("Autorun"), s.Autorun);
    json.add(QStringLiteral("RunPaused"), s.RunPaused);
    json.add(QStringLiteral("PrintByOne"), s.PrintByOne);
    json.add(QStringLiteral("ShowHints"), s.ShowHints);
    json.add(QStringLiteral("MaxPortrait"), s.MaxPortrait);
    json.add(QStringLiteral("HighPriority"), s.HighPriority);
    json.add(QStringLiteral("ProxyServer"), s.ProxyServer);
    json.add(QStringLiteral("ProxyAddr"), s.ProxyAddr);
    json.add(QStringLiteral("ProxyPort"), s.ProxyPort);
    json.add(QStringLiteral("VerCheck"), s.VerCheck);
    json.add(QStringLiteral("LastVerCheck"), s.LastVerCheck);
    json.add(QStringLiteral("Indent"), s.Indent);
    json.add(QStringLiteral("BorderLeft"), s.Borders.left());
    json.add(QStringLiteral("BorderTop"), s.Borders.top());
    json.add(QStringLiteral("BorderRight"), s.Borders.right());
    json.add(QStringLiteral("BorderBottom"), s.Borders.bottom());
    json.add(QStringLiteral("SystemFont"), s.SystemFont);
    json.add(QStringLiteral("WndTaskbar"), s.WndTaskbar);
    json.add(QStringLiteral("Orientation"), s.Orientation);
    json.add(QStringLiteral("HintHidePause"), s.HintHidePause);
    json.add(QStringLiteral("SocketTimeout"), c.SocketTimeout);
    json.add(QStringLiteral("urlFileInf"), c.urlFileInf);
    json.add(QStringLiteral("urlTarnyx"), c.urlTarnyx);
    ctx.out << json.text() << '\n';
    return 0;
}

int run(Context& ctx, const QStringList& args)
{
    using Command = std::function<int(Context&, const QStringList&)>;
    const std::pair<const char*, Command> commands[] = {
        {"settings", settings},
    };
    if (!args.isEmpty()) {
        for (const auto& [name, command] : commands)
            if (args.first() == QLatin1String(name))
                return command(ctx, args.mid(1));
    }
    ctx.err << kUsage;
    return 2;
}

} // namespace cli
