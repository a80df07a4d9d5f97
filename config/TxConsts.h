#pragma once

#include <QString>
#include <QStringList>

// Values the update code needs, read once when the program is loaded and fixed for the run.
struct SettingsConstants
{
    int SocketTimeout = 0; // HTTP receive timeout, milliseconds
    QString urlFileInf;    // where the version descriptor is published
    QString urlTarnyx;     // the product's home page
};

// The process-wide constants; zero until LoadSettingsConstants ran.
SettingsConstants& TxConsts();

QString DefaultUrlFileInf();
QString DefaultUrlTarnyx();

// Sets the product key, then reads the constants from section "Settings" (the timeout limited to
// 5000..300000). With the switch "RegSaveSettings" among `args` it writes them back as they now
// stand. A registry failure ends the reading; what was not read stays zero or empty.
void LoadSettingsConstants(const QStringList& args);
