// The window icon: which of the files is drawn for a size, and that a file
// is decoded only when it is needed.
#include "startup/windowicon.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>

class TestWindowIcon : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QMap<int, QString> m_files;
    const QMap<int, QColor> m_colours = {{16, Qt::red}, {32, Qt::green}, {64, Qt::blue}};

private slots:
    void initTestCase()
    {
        for (auto it = m_colours.begin(); it != m_colours.end(); ++it) {
            QImage image(it.key(), it.key(), QImage::Format_ARGB32);
            image.fill(it.value());
            const QString path = m_dir.filePath(QString::number(it.key()) + ".png");
            QVERIFY(image.save(path));
            m_files.insert(it.key(), path);
        }
    }

    void drawsTheFileForTheSize_data()
    {
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("file");
        QTest::addColumn<int>("given");
        QTest::newRow("exact") << 32 << 32 << 32;
        QTest::newRow("smallest") << 16 << 16 << 16;
        QTest::newRow("between: the next larger, scaled down") << 24 << 32 << 24;
        QTest::newRow("below the smallest") << 8 << 16 << 8;
        QTest::newRow("above the largest: the largest") << 128 << 64 << 64;
    }
    void drawsTheFileForTheSize()
    {
        QFETCH(int, asked);
        QFETCH(int, file);
        QFETCH(int, given);
        const QIcon icon = SizedIcon(m_files);
        const QImage image = icon.pixmap(QSize(asked, asked)).toImage();
        QCOMPARE(image.size(), QSize(given, given));
        QCOMPARE(image.pixelColor(given / 2, given / 2), m_colours.value(file));
        QCOMPARE(icon.availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {64, 64}}));
    }

    void decodesOnlyWhatIsAsked()
    {
        QTemporaryDir dir;
        QMap<int, QString> files = {{16, dir.filePath("16.png")}, {32, dir.filePath("32.png")}};
        QVERIFY(QFile::copy(m_files.value(16), files.value(16)));
        QVERIFY(QFile::copy(m_files.value(32), files.value(32)));
        const QIcon icon = SizedIcon(files);
        QVERIFY(QFile::remove(files.value(32))); // never read
        QCOMPARE(icon.pixmap(QSize(16, 16)).toImage().pixelColor(8, 8), QColor(Qt::red));
        QVERIFY(icon.pixmap(QSize(32, 32)).isNull());
    }
};

QTEST_MAIN(TestWindowIcon)
#include "tst_windowicon.moc"
