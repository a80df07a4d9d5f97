// Writes `count` values named PREFIX_0 .. PREFIX_<count-1> into one key of the registry hive at
// HIVE, one read-modify-write each, as fast as it can: the second writer of the concurrency test.
// Usage: hive_writer HIVE PREFIX COUNT
#include "core/platform/RegistryFile.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4)
        return 2;
    const platform::RegistryFile file(args.at(1));
    const int count = args.at(3).toInt();
    for (int i = 0; i < count; ++i) {
        const bool saved = file.modify([&](platform::RegistryHive& hive) {
            platform::RegValue v;
            v.name = QStringLiteral("%1_%2").arg(args.at(2)).arg(i);
            v.kind = platform::RegKind::Dword;
            v.dword = quint32(i);
            hive.setValue(QStringLiteral("HKEY_CURRENT_USER\\Software\\Race"), v);
            return true;
        });
        if (!saved)
            return 1;
    }
    return 0;
}
