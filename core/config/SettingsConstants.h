#pragma once

#include <QString>
#include <QStringList>

// Values the update code needs, read once when the program is loaded and fixed for the run.
struct SettingsConstants
{
    int socketTimeout = 0; // HTTP receive timeout, milliseconds
    QString urlFileInf;    // where the version descriptor is published
    QString urlTarnyx;     // the product's home page
};

// The process-wide constants; zero until loadSettingsConstants ran.
SettingsConstants& settingsConstants();

QString defaultUrlFileInf();
QString defaultUrlTarnyx();

// Sets the product key, then reads the constants from section "Settings" (the timeout limited to
// 5000..300000). With the switch "RegSaveSettings" among `args` it writes them back as they now
// stand. A registry failure ends the reading; what was not read stays zero or empty.
void loadSettingsConstants(const QStringList& args);
