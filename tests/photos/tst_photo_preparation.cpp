// Photos as phones and cameras make them: turned upright, fitted under the limit with the best
// quality that fits, converted from other formats; undecodable files refused.
#include "photos/photo_preparation.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QtEndian>
#include <QtTest>

#ifdef RETRATIX_HEIF
#include <libheif/heif.h>
#endif

namespace {

constexpr qint64 Limit = 150000;

QByteArray encode(const QImage& image, const char* format, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

// A JPEG with an EXIF segment holding only the orientation tag, right after its start marker.
QByteArray withOrientation(const QByteArray& jpeg, quint16 orientation)
{
    QByteArray tiff("MM\0*\0\0\0\x08", 8);  // big-endian, first directory at 8
    tiff += QByteArray("\0\x01", 2);         // one entry
    char entry[12] = {0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0, 0, 0, 0};
    qToBigEndian<quint16>(orientation, entry + 8);
    tiff += QByteArray(entry, 12);
    tiff += QByteArray(4, '\0');  // no next directory
    const QByteArray exif = QByteArray("Exif\0\0", 6) + tiff;
    char length[2];
    qToBigEndian<quint16>(quint16(exif.size() + 2), length);
    return jpeg.left(2) + QByteArray("\xFF\xE1", 2) + QByteArray(length, 2) + exif + jpeg.mid(2);
}

// Upright: wider than tall, red in its top-left quarter, the rest blue.
QImage uprightPicture(int width = 300, int height = 200)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter(&image).fillRect(0, 0, width / 2, height / 2, Qt::red);
    return image;
}

QImage decoded(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);  // what is stored must be upright by itself
    return reader.read();
}

bool redAt(const QImage& image, double x, double y)
{
    const QColor color = image.pixelColor(int(x * image.width()), int(y * image.height()));
    return color.red() > 180 && color.blue() < 80;
}

// Noise: it does not compress, so even a small picture makes a large JPEG.
QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator generator(42);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = generator.generate() | 0xff000000u;
    }
    return image;
}

QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient shade(0, 0, width, height);
    shade.setColorAt(0, Qt::darkGreen);
    shade.setColorAt(1, Qt::yellow);
    painter.fillRect(image.rect(), shade);
    painter.setPen(Qt::black);
    for (int x = 0; x < width; x += 37)
        painter.drawLine(x, 0, width - x, height);
    return image;
}

// An HEIC photo, or nothing where the build has no libheif (its cases are then left out).
QByteArray heic([[maybe_unused]] const QImage& source)
{
#ifndef RETRATIX_HEIF
    return {};
#else
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    QByteArray bytes;
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok) {
        heif_image* picture = nullptr;
        heif_image_create(image.width(), image.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture);
        heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), 8);
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
        for (int y = 0; y < image.height(); ++y)
            memcpy(plane + y * stride, image.constScanLine(y), size_t(image.width()) * 3);
        heif_encoder_set_lossy_quality(encoder, 80);
        if (heif_context_encode_image(context, picture, encoder, nullptr, nullptr).code == heif_error_Ok) {
            heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* target) {
                                   static_cast<QByteArray*>(target)->append(static_cast<const char*>(data), qsizetype(size));
                                   return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                               }};
            heif_context_write(context, &writer, &bytes);
        }
        heif_image_release(picture);
        heif_encoder_release(encoder);
    }
    heif_context_free(context);
    return bytes;
#endif
}

}  // namespace

class TestPhotoPreparation final : public QObject {
    Q_OBJECT
private slots:
    void everyOrientationEndsUpright_data();
    void everyOrientationEndsUpright();
    void largePhotosFitUnderTheLimit_data();
    void largePhotosFitUnderTheLimit();
    void qualityIsTheHighestThatFits();
    void refusals_data();
    void refusals();
};

void TestPhotoPreparation::everyOrientationEndsUpright_data()
{
    // How a camera stores the upright picture for each tag (the tag says how to turn it back).
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QImage>("stored");
    const QImage upright = uprightPicture();
    QTest::newRow("1 normal") << 1 << upright;
    QTest::newRow("2 mirrored") << 2 << upright.mirrored(true, false);
    QTest::newRow("3 upside down") << 3 << upright.transformed(QTransform().rotate(180));
    QTest::newRow("4 mirrored upside down") << 4 << upright.mirrored(false, true);
    QTest::newRow("5 transposed") << 5 << upright.transformed(QTransform(0, 1, 1, 0, 0, 0));
    QTest::newRow("6 turned right") << 6 << upright.transformed(QTransform().rotate(-90));
    QTest::newRow("7 transversed") << 7 << upright.transformed(QTransform(0, -1, -1, 0, 0, 0));
    QTest::newRow("8 turned left") << 8 << upright.transformed(QTransform().rotate(90));
}

void TestPhotoPreparation::everyOrientationEndsUpright()
{
    QFETCH(int, orientation);
    QFETCH(QImage, stored);
    const QByteArray small = withOrientation(encode(stored, "jpeg"), quint16(orientation));
    // A small photo is turned only when asked to; a large one always, when it is fitted.
    const Photos::Prepared asIs = Photos::prepare(small, QStringLiteral("7.jpg"), {true, false}, Limit);
    QCOMPARE(asIs.outcome, Photos::Prepared::Outcome::AsIs);
    const Photos::Prepared turned = Photos::prepare(small, QStringLiteral("7.jpg"), {false, true}, Limit);
    QCOMPARE(turned.outcome, orientation == 1 ? Photos::Prepared::Outcome::AsIs : Photos::Prepared::Outcome::Converted);
    const QImage upright = decoded(orientation == 1 ? small : turned.bytes);
    QCOMPARE(upright.size(), QSize(300, 200));
    QVERIFY(redAt(upright, 0.1, 0.1));
    QVERIFY(!redAt(upright, 0.9, 0.1));
    QVERIFY(!redAt(upright, 0.1, 0.9));
    // The same picture made large (bytes after its end change nothing of the picture).
    const Photos::Prepared fitted = Photos::prepare(withOrientation(encode(stored.scaled(stored.size() * 4), "jpeg", 100)
                                                                        + QByteArray(Limit, '\0'),
                                                                    quint16(orientation)),
                                                    QStringLiteral("7.jpg"), {true, false}, Limit);
    QCOMPARE(fitted.outcome, Photos::Prepared::Outcome::Converted);
    const QImage image = decoded(fitted.bytes);
    QCOMPARE(image.width() * 2, image.height() * 3);  // upright: wider than tall
    QVERIFY(redAt(image, 0.1, 0.1));
    QVERIFY(!redAt(image, 0.9, 0.9));
}

void TestPhotoPreparation::largePhotosFitUnderTheLimit_data()
{
    QTest::addColumn<QByteArray>("original");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("shape");  // the original's proportions
    QTest::newRow("camera JPEG, 4000 x 3000") << encode(gradient(4000, 3000), "jpeg", 95) << "7.jpg" << QSize(4, 3);
    QTest::newRow("noise JPEG, portrait") << encode(noise(1200, 1600), "jpeg", 90) << "7.jpg" << QSize(3, 4);
    QTest::newRow("PNG") << encode(gradient(1000, 500), "png") << "7.png" << QSize(2, 1);
    QTest::newRow("small PNG is converted too") << encode(gradient(40, 40), "png") << "7.PNG" << QSize(1, 1);
    QImage transparent(400, 400, QImage::Format_ARGB32);
    transparent.fill(Qt::transparent);
    QTest::newRow("transparent PNG turns white") << encode(transparent, "png") << "7.png" << QSize(1, 1);
    const QByteArray heif = heic(gradient(800, 600));
    if (!heif.isEmpty())
        QTest::newRow("HEIC") << heif << "7.heic" << QSize(4, 3);
}

void TestPhotoPreparation::largePhotosFitUnderTheLimit()
{
    QFETCH(QByteArray, original);
    QFETCH(QString, name);
    QFETCH(QSize, shape);
    const Photos::Prepared prepared = Photos::prepare(original, name, {true, false}, Limit);
    QCOMPARE(prepared.outcome, Photos::Prepared::Outcome::Converted);
    QVERIFY2(prepared.bytes.size() < Limit, qPrintable(QString::number(prepared.bytes.size())));
    // Baseline JPEG: a baseline frame header, no progressive one.
    QVERIFY(prepared.bytes.startsWith("\xFF\xD8"));
    QVERIFY(prepared.bytes.contains("\xFF\xC0"));
    QVERIFY(!prepared.bytes.contains("\xFF\xC2"));
    const QImage image = decoded(prepared.bytes);
    QCOMPARE(image.size(), prepared.size);
    QVERIFY(qMax(image.width(), image.height()) <= Photos::LongestSide);
    QVERIFY(qAbs(double(image.width()) / image.height() - double(shape.width()) / shape.height()) < 0.01);
    if (QByteArray(QTest::currentDataTag()) == "transparent PNG turns white")
        QCOMPARE(image.pixelColor(200, 200), QColor(Qt::white));
}

// The search ends at the best quality that fits: one step more would not.
void TestPhotoPreparation::qualityIsTheHighestThatFits()
{
    // 300 x 200 of noise takes about 27 kB at the lowest quality and 63 kB at the highest.
    constexpr qint64 limit = 40000;
    const QImage picture = noise(300, 200);
    const Photos::Prepared prepared = Photos::fitJpeg(picture, limit);
    QCOMPARE(prepared.outcome, Photos::Prepared::Outcome::Converted);
    QCOMPARE(prepared.size, picture.size());
    QVERIFY(prepared.quality > Photos::LowestQuality && prepared.quality < 95);
    QByteArray better;
    QBuffer buffer(&better);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(prepared.quality + 1);
    writer.setOptimizedWrite(true);
    QVERIFY(writer.write(picture));
    QVERIFY(prepared.bytes.size() < limit);
    QVERIFY(better.size() >= limit);
    // Exactly the limit is refused as any size over it: with the limit at the size just found, the
    // fit must come out smaller.
    const Photos::Prepared atLimit = Photos::fitJpeg(picture, prepared.bytes.size());
    QCOMPARE(atLimit.outcome, Photos::Prepared::Outcome::Converted);
    QVERIFY(atLimit.bytes.size() < prepared.bytes.size());
}

void TestPhotoPreparation::refusals_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fit");
    QTest::addColumn<int>("outcome");
    const QByteArray large = encode(noise(600, 400), "jpeg");
    const QByteArray garbage(Limit + 10, 'x');
    QTest::newRow("large JPEG without fitting") << large << "7.jpg" << false << int(Photos::Prepared::Outcome::TooLarge);
    QTest::newRow("large undecodable JPEG") << garbage << "7.jpg" << true << int(Photos::Prepared::Outcome::TooLarge);
    QTest::newRow("undecodable PNG") << QByteArray("not a png") << "7.png" << true
                                     << int(Photos::Prepared::Outcome::Undecodable);
    QTest::newRow("small JPEG as it is") << QByteArray("\xFF\xD8 any bytes") << "7.jpg" << true
                                         << int(Photos::Prepared::Outcome::AsIs);
    // A small file whose image spatial extent says 20000 x 20000 pixels: refused before the decoder
    // sets aside 1.2 GB for it.
    QByteArray huge = heic(gradient(80, 60));
    for (qsizetype at = huge.indexOf("ispe"); at >= 0; at = huge.indexOf("ispe", at + 1)) {
        const QByteArray side = QByteArray::fromHex("00004e20");
        huge.replace(at + 8, 4, side);
        huge.replace(at + 12, 4, side);
    }
    if (!huge.isEmpty())
        QTest::newRow("HEIC declaring a huge picture") << huge << "7.heic" << true
                                                       << int(Photos::Prepared::Outcome::TooLarge);
}

void TestPhotoPreparation::refusals()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(bool, fit);
    QFETCH(int, outcome);
    QCOMPARE(int(Photos::prepare(bytes, name, {fit, false}, Limit).outcome), outcome);
}

QTEST_GUILESS_MAIN(TestPhotoPreparation)
#include "tst_photo_preparation.moc"
