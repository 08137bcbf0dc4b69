#include "photos/photo_preparation.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <libheif/heif.h>

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

// A file of a few bytes may declare a picture of any size: the decoder is stopped before it sets
// aside memory for one larger than Qt's own image readers accept (256 MiB as a 32-bit image).
constexpr int HeifLongestSide = 16384;
constexpr qint64 HeifMostPixels = 64LL * 1024 * 1024;

std::optional<QImage> decodeHeif(const QByteArray& bytes, bool* tooLarge)
{
    using Context = std::unique_ptr<heif_context, decltype(&heif_context_free)>;
    using Handle = std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)>;
    using Image = std::unique_ptr<heif_image, decltype(&heif_image_release)>;
    const Context context(heif_context_alloc(), &heif_context_free);
    if (!context)
        return std::nullopt;
    heif_context_set_maximum_image_size_limit(context.get(), HeifLongestSide);
    const auto failed = [tooLarge](const heif_error& error) {
        *tooLarge = error.subcode == heif_suberror_Security_limit_exceeded;
        return error.code != heif_error_Ok;
    };
    if (failed(heif_context_read_from_memory_without_copy(context.get(), bytes.constData(), size_t(bytes.size()),
                                                          nullptr)))
        return std::nullopt;
    heif_image_handle* rawHandle = nullptr;
    if (failed(heif_context_get_primary_image_handle(context.get(), &rawHandle)))
        return std::nullopt;
    const Handle handle(rawHandle, &heif_image_handle_release);
    if (qint64(heif_image_handle_get_width(handle.get())) * heif_image_handle_get_height(handle.get()) >
        HeifMostPixels) {
        *tooLarge = true;
        return std::nullopt;
    }
    heif_image* rawImage = nullptr;
    // The decoder applies the file's rotation and mirroring itself.
    if (failed(heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr)))
        return std::nullopt;
    const Image image(rawImage, &heif_image_release);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || width <= 0 || height <= 0)
        return std::nullopt;
    return QImage(plane, width, height, stride, QImage::Format_RGB888).copy();
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

QStringList knownFormats() { return QtFormats + HeifFormats; }

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
