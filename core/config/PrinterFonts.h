#pragma once

#include <QStringList>

class PrinterCatalog;

// The report faces the current printer offers: "Courier New", then "Lucida Console", each when
// the desktop has it or maps it to a fixed-pitch face. With no current printer the list is just
// "Courier New". Needs a QGuiApplication (fonts are resolved through fontconfig).
QStringList printerFontNames(const PrinterCatalog& printers);

// True when `family` is installed or the font configuration substitutes a fixed-pitch face.
bool isFixedPitchFaceOffered(const QString& family);
