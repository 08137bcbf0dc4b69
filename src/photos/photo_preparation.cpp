#include "photos/photo_preparation.h"

#include "photos/heif_decoding.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <memory>
#include <optional>

namespace Photos {

namespace {

// Extensions by the decoder that reads them.
const QStringList JpegFormats = {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"),
                                 QStringLiteral("jfif")};
const QStringList QtFormats = {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"), QStringLiteral("jfif"),
                               QStringLiteral("png"), QStringLiteral("bmp"), QStringLiteral("gif")};
const QStringList HeifFormats = {QStringLiteral("heic"), QStringLiteral("heif")};

constexpr int HighestQuality = 95;
constexpr int SmallestSide = 64;

bool containsExtension(const QString& fileName, const QString& extension)
{
    return fileName.contains(QLatin1Char('.') + extension, Qt::CaseInsensitive);
}

// HEIF files start with an "ftyp" box whose brand names the family.
bool isHeif(const QByteArray& bytes)
{
    if (bytes.size() < 12 || bytes.mid(4, 4) != "ftyp")
        return false;
    const QByteArray brand = bytes.mid(8, 4);
    return brand == "heic" || brand == "heix" || brand == "hevc" || brand == "hevx" || brand == "heim" ||
           brand == "heis" || brand == "mif1" || brand == "msf1";
}

// Decodes upright, at no more than LongestSide where the format lets the decoder scale (JPEG
// decodes at a fraction of its size, so a camera's photo never lies whole in memory).
// tooLarge tells a picture refused for its size from one that could not be read.
std::optional<QImage> decode(const QByteArray& bytes, bool* turned = nullptr, bool* tooLarge = nullptr)
{
    if (isHeif(bytes)) {
        if (turned)
            *turned = false;
        bool large = false;
        std::optional<QImage> image = decodeHeif(bytes, &large);
        if (tooLarge)
            *tooLarge = large;
        return image;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    if (turned)
        *turned = reader.transformation() != QImageIOHandler::TransformationNone;
    const QSize size = reader.size();
    if (size.isValid() && qMax(size.width(), size.height()) > LongestSide)
        reader.setScaledSize(size.scaled(LongestSide, LongestSide, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

// Opaque RGB on white: JPEG has no transparency.
QImage opaque(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage result(image.size(), QImage::Format_RGB32);
    result.fill(Qt::white);
    QPainter painter(&result);
    painter.drawImage(0, 0, image);
    return result;
}

QByteArray encode(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setOptimizedWrite(true);        // optimised Huffman tables: smaller, still baseline
    writer.setProgressiveScanWrite(false);  // baseline
    if (!writer.write(image))
        return {};
    return bytes;
}

}  // namespace

QStringList knownFormats() { return readsHeif() ? QtFormats + HeifFormats : QtFormats; }

bool isHeifFormat(const QString& format) { return HeifFormats.contains(format, Qt::CaseInsensitive); }

bool hasFormat(const QString& fileName, const QStringList& formats)
{
    for (const QString& format : formats)
        if (containsExtension(fileName, format))
            return true;
    return false;
}

bool namesJpeg(const QString& fileName) { return hasFormat(fileName, JpegFormats); }

bool isJpegFormat(const QString& format) { return JpegFormats.contains(format, Qt::CaseInsensitive); }

Prepared fitJpeg(const QImage& source, qint64 limit)
{
    Prepared prepared;
    QImage image = opaque(source);
    if (qMax(image.width(), image.height()) > LongestSide)
        image = image.scaled(LongestSide, LongestSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const auto fits = [limit](const QByteArray& bytes) { return !bytes.isEmpty() && bytes.size() < limit; };
    while (true) {
        QByteArray lowest = encode(image, LowestQuality);
        if (fits(lowest)) {
            // The highest quality that still fits, by halving the interval that holds it.
            int low = LowestQuality;
            int high = HighestQuality + 1;
            QByteArray best = std::move(lowest);
            while (high - low > 1) {
                const int middle = (low + high) / 2;
                QByteArray bytes = encode(image, middle);
                if (fits(bytes)) {
                    low = middle;
                    best = std::move(bytes);
                } else {
                    high = middle;
                }
            }
            prepared.outcome = Prepared::Outcome::Converted;
            prepared.bytes = std::move(best);
            prepared.size = image.size();
            prepared.quality = low;
            return prepared;
        }
        if (qMin(image.width(), image.height()) <= SmallestSide) {
            prepared.outcome = Prepared::Outcome::TooLarge;
            return prepared;
        }
        image = image.scaled(image.size() * 0.8, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
}

Prepared prepare(const QByteArray& original, const QString& fileName, const Options& options, qint64 limit)
{
    Prepared prepared;
    if (namesJpeg(fileName)) {
        if (original.size() < limit) {
            if (!options.uprightAll)
                return prepared;  // as is, byte for byte
            bool turned = false;
            const std::optional<QImage> image = decode(original, &turned);
            if (!image || !turned)
                return prepared;
            const Prepared upright = fitJpeg(*image, limit);
            return upright.outcome == Prepared::Outcome::Converted ? upright : prepared;
        }
        if (!options.fit) {
            prepared.outcome = Prepared::Outcome::TooLarge;
            return prepared;
        }
        const std::optional<QImage> image = decode(original);
        if (!image) {
            prepared.outcome = Prepared::Outcome::TooLarge;  // refused as a large file always was
            return prepared;
        }
        return fitJpeg(*image, limit);
    }
    bool tooLarge = false;
    const std::optional<QImage> image = decode(original, nullptr, &tooLarge);
    if (!image) {
        prepared.outcome = tooLarge ? Prepared::Outcome::TooLarge : Prepared::Outcome::Undecodable;
        return prepared;
    }
    return fitJpeg(*image, limit);
}

}  // namespace Photos
