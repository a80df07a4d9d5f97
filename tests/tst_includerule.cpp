// Who may include whom. The folders are the layers: core < print < gui < app. Inside core each
// folder includes only those before it in kCoreFolders; inside gui every window folder includes
// only itself and common/; nothing includes app/.

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QStringList kLayers = {QStringLiteral("core"), QStringLiteral("print"), QStringLiteral("gui"),
                             QStringLiteral("app")};
const QStringList kCoreFolders = {QStringLiteral("platform"), QStringLiteral("config"),
                                  QStringLiteral("log"),      QStringLiteral("report"),
                                  QStringLiteral("archive"),  QStringLiteral("update"),
                                  QStringLiteral("jobs")};
const QStringList kGuiFolders = {QStringLiteral("common"),  QStringLiteral("main"),
                                 QStringLiteral("config"),  QStringLiteral("print"),
                                 QStringLiteral("browser"), QStringLiteral("update"),
                                 QStringLiteral("about")};

// Where a file lies in the rule: its layer and, in core and gui, its folder there.
struct Place
{
    int layer = -1;
    int folder = 0;
    QString name; // "core/report", "print", …
};

// The place of a path relative to the source root; layer -1 when it is in no folder of the rule
// (a new folder of a layer is one too, so that the rule is extended with it).
Place placeOf(const QString& path)
{
    const QStringList parts = path.split(u'/');
    Place p;
    p.layer = int(kLayers.indexOf(parts.first()));
    if (p.layer < 0 || parts.size() < 2)
        return Place{};
    p.name = parts.first();
    const QStringList* folders = p.name == QLatin1String("core")  ? &kCoreFolders
                                 : p.name == QLatin1String("gui") ? &kGuiFolders
                                                                  : nullptr;
    if (!folders)
        return p;
    p.folder = parts.size() > 2 ? int(folders->indexOf(parts.at(1))) : -1;
    if (p.folder < 0)
        return Place{};
    p.name += u'/' + parts.at(1);
    return p;
}

// Why `from` may not include `to`; empty when it may.
QString breach(const Place& from, const Place& to)
{
    if (to.layer < 0)
        return QStringLiteral("the header lies in no folder of the rule");
    if (to.layer == kLayers.indexOf(u"app") && from.layer != to.layer)
        return QStringLiteral("nothing includes app/");
    if (to.layer > from.layer)
        return QStringLiteral("%1 is a higher layer than %2").arg(to.name, from.name);
    if (to.layer < from.layer || to.name == from.name)
        return {};
    if (from.name.startsWith(u"core/") && to.folder > from.folder)
        return QStringLiteral("%1 comes after %2 in core").arg(to.name, from.name);
    if (from.name.startsWith(u"gui/") && to.folder != 0)
        return QStringLiteral("%1 is another window folder than %2").arg(to.name, from.name);
    return {};
}

// Every include of a project file that breaks the rule, one line each: "file: header (why)".
// Includes that name no file of the source tree (Qt, the system, generated files) are not
// looked at; a project header reached by a relative path or in angle brackets is.
QStringList breaches(const QString& root)
{
    static const QRegularExpression include(
        QStringLiteral("^\\s*#\\s*include\\s*[<\"]([^\">]+)[\">]"));
    const QDir rootDir(root);
    QStringList found;
    for (const QString& layer : kLayers) {
        QDirIterator it(rootDir.filePath(layer), {QStringLiteral("*.h"), QStringLiteral("*.cpp")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = rootDir.relativeFilePath(it.next());
            const Place from = placeOf(file);
            QFile source(it.filePath());
            if (!source.open(QIODevice::ReadOnly)) {
                found << file + QStringLiteral(": cannot be read");
                continue;
            }
            if (from.layer < 0) {
                found << file + QStringLiteral(": lies in no folder of the rule");
                continue;
            }
            const QStringList lines = QString::fromUtf8(source.readAll()).split(u'\n');
            for (const QString& line : lines) {
                const QRegularExpressionMatch m = include.match(line);
                if (!m.hasMatch())
                    continue;
                const QString name = m.captured(1);
                QString header = QDir::cleanPath(QFileInfo(file).path() + u'/' + name);
                if (!QFileInfo::exists(rootDir.filePath(header)))
                    header = QDir::cleanPath(name);
                if (header.startsWith(u"../") || !QFileInfo::exists(rootDir.filePath(header)))
                    continue;
                const QString why = breach(from, placeOf(header));
                if (!why.isEmpty())
                    found << QStringLiteral("%1: %2 (%3)").arg(file, name, why);
            }
        }
    }
    return found;
}

void writeFile(const QString& path, const QByteArray& text)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

} // namespace

class TestIncludeRule : public QObject
{
    Q_OBJECT
private slots:
    void sourceTreeKeepsTheRule()
    {
        const QStringList found = breaches(QStringLiteral(TARNYX_SOURCE_DIR));
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
    }

    // The check itself, on a tree of two files: `file` includes `header`.
    void includesAcrossTheRuleAreFound_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("header");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("core folder below") << "core/jobs/A.cpp"
                                           << "core/report/B.h" << true;
        QTest::newRow("core folder above") << "core/config/A.cpp"
                                           << "core/update/B.h" << false;
        QTest::newRow("core includes print") << "core/config/A.cpp"
                                             << "print/B.h" << false;
        QTest::newRow("print includes core") << "print/A.cpp"
                                             << "core/jobs/B.h" << true;
        QTest::newRow("print includes a window") << "print/A.cpp"
                                                 << "gui/common/B.h" << false;
        QTest::newRow("window includes common") << "gui/print/A.cpp"
                                                << "gui/common/B.h" << true;
        QTest::newRow("sibling window folder") << "gui/print/A.cpp"
                                               << "gui/browser/B.h" << false;
        QTest::newRow("common includes a window") << "gui/common/A.h"
                                                  << "gui/main/B.h" << false;
        QTest::newRow("app includes gui") << "app/A.cpp"
                                          << "gui/about/B.h" << true;
        QTest::newRow("gui includes app") << "gui/main/A.cpp"
                                          << "app/B.h" << false;
        QTest::newRow("relative path") << "core/report/A.cpp"
                                       << "../jobs/B.h" << false;
        QTest::newRow("folder unknown to the rule") << "gui/extra/A.cpp"
                                                    << "gui/common/B.h" << false;
    }
    void includesAcrossTheRuleAreFound()
    {
        QFETCH(QString, file);
        QFETCH(QString, header);
        QFETCH(bool, allowed);
        QTemporaryDir root;
        const QString headerPath = QDir::cleanPath(
            header.startsWith(u"../") ? QFileInfo(file).path() + u'/' + header : header);
        writeFile(root.filePath(headerPath), "#pragma once\n");
        writeFile(root.filePath(file),
                  "#include \"" + header.toUtf8() + "\"\n#include <QString>\n");
        const QStringList found = breaches(root.path());
        QCOMPARE(found.isEmpty(), allowed);
        if (!allowed)
            QVERIFY2(found.first().startsWith(file + u':'), qPrintable(found.first()));
    }
};

QTEST_GUILESS_MAIN(TestIncludeRule)
#include "tst_includerule.moc"
