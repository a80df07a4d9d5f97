// Build tool: writes the program's icon for the desktop's icon theme, one PNG a size, as
// OUTPUT-DIR/NxN/apps/tarnyx.png. Needs no display.
#include "gui/common/Pictures.h"

#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT-DIR SIZE...\n", argv[0]);
        return 2;
    }
    const QString outputDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (*end != '\0' || size < 1 || size > 1024) {
            std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
            return 2;
        }
        const QString path =
            QStringLiteral("%1/%2x%2/apps/tarnyx.png").arg(outputDir, QString::number(size));
        if (!pictures::writeApplicationIconPng(path, static_cast<int>(size))) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(path));
            return 1;
        }
    }
    return 0;
}
