#include "gui/common/Pictures.h"

#include <QTemporaryDir>
#include <QTest>

using namespace pictures;

namespace {

int opaquePixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

bool cornersClear(const QImage& image)
{
    const int r = image.width() - 1;
    const int b = image.height() - 1;
    return qAlpha(image.pixel(0, 0)) == 0 && qAlpha(image.pixel(r, 0)) == 0 &&
           qAlpha(image.pixel(0, b)) == 0 && qAlpha(image.pixel(r, b)) == 0;
}

// Checks one picture of an icon at `size`: drawn, with a transparent surround.
void checkIcon(const QIcon& icon, int size, const char* what, int index)
{
    const QByteArray name = QByteArray(what) + ' ' + QByteArray::number(index);
    const QList<QSize> sizes = icon.availableSizes();
    QVERIFY2(sizes.contains(QSize(size, size)) && sizes.contains(QSize(2 * size, 2 * size)),
             name.constData());
    const QImage image = icon.pixmap(QSize(size, size)).toImage();
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY2(opaquePixels(image) > size * 2, name.constData());
    QVERIFY2(cornersClear(image), name.constData());
}

} // namespace

class TestPictures : public QObject
{
    Q_OBJECT
private slots:
    void toolAndRolePictures();
    void trayPicturesAndAnimation();
    void applicationIconSizesAndFile();
};

void TestPictures::toolAndRolePictures()
{
    for (int i = 0; i < kToolCount; ++i) {
        if (Tool(i) == Tool::Unused7)
            QCOMPARE(opaquePixels(toolIcon(Tool(i)).pixmap(QSize(21, 21)).toImage()), 0);
        else
            checkIcon(toolIcon(Tool(i)), kToolSize, "tool", i);
    }
    for (int i = 0; i < kRoleCount; ++i)
        checkIcon(roleIcon(Role(i)), 16, "role", i);
    QVERIFY(toolIcon(Tool(kToolCount)).isNull());
    QVERIFY(roleIcon(Role(-1)).isNull());
}

void TestPictures::trayPicturesAndAnimation()
{
    const QList<QPixmap> still = trayPictures();
    QCOMPARE(still.size(), kTrayPictureCount);
    for (const QPixmap& pixmap : still) {
        QCOMPARE(pixmap.size(), QSize(16, 16));
        QVERIFY(opaquePixels(pixmap.toImage()) > 32);
        QVERIFY(cornersClear(pixmap.toImage()));
    }
    const QList<QPixmap> sharp = trayPictures(2);
    QCOMPARE(sharp.size(), kTrayPictureCount);
    QCOMPARE(sharp.first().size(), QSize(32, 32));
    QCOMPARE(sharp.first().devicePixelRatio(), 2.0);

    const QList<QPixmap> frames = trayAnimation();
    QCOMPARE(frames.size(), kTrayFrameCount);
    QList<QImage> images;
    for (const QPixmap& frame : frames) {
        QCOMPARE(frame.size(), QSize(16, 16));
        images << frame.toImage();
        QVERIFY(opaquePixels(images.last()) > 16);
    }
    for (qsizetype i = 0; i < images.size(); ++i)
        for (qsizetype j = i + 1; j < images.size(); ++j)
            QVERIFY2(images.at(i) != images.at(j),
                     qPrintable(QStringLiteral("frames %1 and %2").arg(i).arg(j)));
}

void TestPictures::applicationIconSizesAndFile()
{
    const QList<QSize> sizes = applicationIcon().availableSizes();
    QVERIFY(sizes.size() >= 4);
    for (int size : {16, 32, 48, 256})
        QVERIFY(sizes.contains(QSize(size, size)));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("48x48/apps/tarnyx.png"));
    QVERIFY(writeApplicationIconPng(path, 48));
    const QImage written(path);
    QCOMPARE(written.size(), QSize(48, 48));
    QVERIFY(written.hasAlphaChannel());
    QVERIFY(cornersClear(written));
    QVERIFY(opaquePixels(written) > 48 * 20);
    QVERIFY(!writeApplicationIconPng(dir.filePath(QStringLiteral("none.png")), 0));
}

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"
