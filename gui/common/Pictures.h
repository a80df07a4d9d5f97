#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QString>

// The program's pictures, drawn in code: flat shapes in one palette on a transparent background,
// laid out on the pixel grid of their nominal size so that they stay crisp. Each set is drawn once
// and kept. Everything returning a QPixmap or QIcon needs a QGuiApplication; the QImage functions
// and writeApplicationIconPng do not.
namespace pictures {

// The pictures of the main window's actions, 21 x 21; the value is the picture's index.
enum class Tool
{
    Play,      // green triangle
    Pause,     // two amber bars
    Stop,      // red square
    Setup,     // grey gear
    Help,      // white question mark on a blue disc
    Exit,      // open door and a red arrow leaving it
    Browser,   // open book of reports
    Unused7,   // no picture (fully transparent)
    WebUpdate, // globe with a green arrow down
    About,     // white "i" on a blue disc
};
inline constexpr int kToolCount = 10;
inline constexpr int kToolSize = 21;

// Action picture with a 21 x 21 and a 42 x 42 pixmap; an empty icon for a value out of range.
QIcon toolIcon(Tool t);

// The static tray pictures, 16 x 16: 0 blank page, 1 page with lines, 2 grey page, 3 play,
// 4 pause, 5 stop.
inline constexpr int kTrayPictureCount = 6;
// The animation shown while a report prints: a page with lines rising through the picture, one
// pixel a frame; the last frame leads back to the first.
inline constexpr int kTrayFrameCount = 18;
inline constexpr int kTraySize = 16;

// `scale` 1 gives 16 x 16 pixmaps; a larger scale gives pixmaps of 16 * scale pixels with that
// device pixel ratio, for high-density screens. Scales below 1 count as 1.
QList<QPixmap> trayPictures(int scale = 1);
QList<QPixmap> trayAnimation(int scale = 1);

// The 16 x 16 pictures of tool bars and trees, by role.
enum class Role
{
    View,          // eye
    Print,         // printer with a page
    Delete,        // red cross
    Find,          // magnifying glass
    FindNext,      // magnifying glass and a green arrow to the right
    PortraitPage,  // upright page with lines
    LandscapePage, // wide page with lines
    Save,          // diskette
    FolderClosed,  // yellow folder
    FolderOpen,    // yellow folder, open
    BookClosed,    // blue book
    BookOpen,      // open book
    Font,          // letter A
    Frames,        // ruled table
};
inline constexpr int kRoleCount = 14;

// Role picture with a 16 x 16 and a 32 x 32 pixmap; an empty icon for a value out of range.
QIcon roleIcon(Role r);

// The program's icon, a printer putting out a report: 16, 22, 24, 32, 48, 64, 128 and 256 pixels.
QIcon applicationIcon();

// The program's icon drawn at `size` pixels square (a null image for a size below 1).
QImage applicationIconImage(int size);

// Writes the program's icon as a `size` x `size` PNG file, creating the file's directory when
// needed. False when the size is below 1 or the file cannot be written.
bool writeApplicationIconPng(const QString& path, int size);

} // namespace pictures
