// Loads and saves an orientation memory of many remembered report titles, as the program does at
// start and at its end, and prints the median times.
//
//   bench_orientations [TITLES] [ROUNDS]       (5000 and 5 by default)
//
// The settings live in a scratch XDG_CONFIG_HOME made for the run.
#include "core/config/RegistryIni.h"
#include "core/report/CodePages.h"
#include "core/report/OrientationMemory.h"
#include "core/report/ReportHeader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int titles = args.size() > 1 ? args.at(1).toInt() : 5000;
    const int rounds = args.size() > 2 ? args.at(2).toInt() : 5;
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    productKeys().productKey = QStringLiteral("Tarnyx");
    {
        OrientationMemory list;
        for (int i = 0; i < titles; ++i) {
            ReportHeader header;
            header.title = unicodeToCp1250(QStringLiteral("Výplatní listina střediska %1").arg(i));
            list.lookup(header);
            list.store(header, quint8(1 + i % 2));
        }
        list.save();
    }
    QList<qint64> load;
    QList<qint64> save;
    for (int r = 0; r < rounds; ++r) {
        OrientationMemory list;
        QElapsedTimer t;
        t.start();
        list.load();
        load << t.nsecsElapsed() / 1000;
        if (list.count() != titles) {
            std::fprintf(stderr, "bench_orientations: %lld of %d titles loaded\n",
                         static_cast<long long>(list.count()), titles);
            return 1;
        }
        t.restart();
        list.save();
        save << t.nsecsElapsed() / 1000;
    }
    std::sort(load.begin(), load.end());
    std::sort(save.begin(), save.end());
    std::printf("%d titles: load %.1f ms, save %.1f ms (medians of %d)\n", titles,
                load.at(load.size() / 2) / 1000.0, save.at(save.size() / 2) / 1000.0, rounds);
    return 0;
}
