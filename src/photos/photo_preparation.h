#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

class QImage;

// Photos as phones and cameras make them, made fit for the member photo table: decoded, turned
// upright from their orientation tag, scaled down keeping their proportions, and written as a
// baseline JPEG under the size limit with the best quality that fits.
namespace Photos {

// The formats a photo may come in besides JPEG, by the extension of its name (heic and heif only
// where the program was built with libheif).
QStringList knownFormats();
// Whether a format name is HEIF's (heic, heif), whether this build reads it or not.
bool isHeifFormat(const QString& format);
// Whether this build reads HEIC/HEIF photos (RETRATIX_HEIF).
bool readsHeif();

// Whether a file of this name is a photo in one of these formats (extensions without the dot,
// matched without regard to case anywhere in the name, as ".jpg" is): "123.PNG" with "png".
bool hasFormat(const QString& fileName, const QStringList& formats);
// Whether the name says JPEG: ".jpg" (the program's photos) or ".jpeg", ".jpe", ".jfif", in any case.
bool namesJpeg(const QString& fileName);
// Whether a format name (an extension without the dot) is JPEG's: jpg, jpeg, jpe, jfif.
bool isJpegFormat(const QString& format);

struct Options {
    bool fit = false;         // a JPEG of the limit or more is fitted under it
    bool uprightAll = false;  // a JPEG under the limit with an orientation tag is turned upright too
};

struct Prepared {
    enum class Outcome {
        AsIs,         // store the original bytes
        Converted,    // store bytes: fitted, turned upright or converted to JPEG
        TooLarge,     // refused for its size (fitting off, or not worth decoding)
        Undecodable,  // not an image this program can read
    };
    Outcome outcome = Outcome::AsIs;
    QByteArray bytes;  // the JPEG to store when Converted
    QSize size;        // its pixels
    int quality = 0;   // its JPEG quality
};

// Largest original read for fitting: a bigger file is refused for its size without being read.
inline constexpr qint64 LargestOriginal = 64LL * 1024 * 1024;
// The longest side a fitted photo keeps at most: a member's photo needs no more.
inline constexpr int LongestSide = 1600;
// The lowest JPEG quality the search accepts before it makes the picture smaller instead.
inline constexpr int LowestQuality = 60;

// What to store for a photo file's bytes. A JPEG under the limit stays as it is (unless uprightAll
// and it has an orientation tag); a JPEG of the limit or more is fitted when options.fit, else
// refused for its size; any other format is converted to JPEG, fitted where needed.
Prepared prepare(const QByteArray& original, const QString& fileName, const Options& options, qint64 limit);

// Writes image as a baseline JPEG under limit bytes: the largest size (up to LongestSide) at which
// a quality of at least LowestQuality fits, with the highest quality that fits there (a binary
// search). Empty bytes when even a tiny picture does not fit.
Prepared fitJpeg(const QImage& image, qint64 limit);

}  // namespace Photos
