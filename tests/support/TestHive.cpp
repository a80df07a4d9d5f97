#include "support/TestHive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

void writeSettingsHive(const QString& hivePath, const QByteArray& values)
{
    QDir().mkpath(QFileInfo(hivePath).absolutePath());
    QFile f(hivePath);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings]\r\n" +
            values);
}
