#pragma once

#include <QString>

namespace platform {

// Moves a file into the desktop's trash, from where the file manager can put it back: the home
// trash ($XDG_DATA_HOME/Trash, made when missing) for a file on the same file system, otherwise
// the trash at the top of the file's own file system (".Trash/UID" when the administrator made a
// shared one, else ".Trash-UID"), each with its ".trashinfo" record. The file name goes as the
// bytes it has, so a name that is not valid UTF-8 is trashed and restored like any other. Only a
// plain file goes, never a folder or a link in the file's place. False (the file left where it
// is) when no trash can take it.
bool moveToTrash(const QString& path);

// The home trash, made when missing; empty when it cannot be made.
QString homeTrashDirectory();

} // namespace platform
