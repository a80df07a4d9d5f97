#pragma once

#include <QByteArray>
#include <QString>

// Writes a registry hive file holding `values` (lines in regedit form, CR LF ended) in the
// program's key Settings, replacing whatever was there.
void writeSettingsHive(const QString& hivePath, const QByteArray& values);
