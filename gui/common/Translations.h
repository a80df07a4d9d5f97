#pragma once

// Makes Qt's own dialogs (folders, files, page setup) speak Czech, as the program does: Qt's
// Czech catalogue, and the few texts it lacks taken from where the catalogue has them. Call it
// once the application object exists; false when Qt's Czech catalogue is not installed
// (package qt6-translations-l10n).
bool installCzechTranslations();
