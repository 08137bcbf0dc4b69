#pragma once

// HEIC/HEIF decoding (internal to src/photos): through libheif (heif_decoding.cpp), or nothing in a
// build without it (heif_absent.cpp, RETRATIX_HEIF off), where such a photo does not read.

#include <QByteArray>
#include <QImage>

#include <optional>

namespace Photos {

// The picture, turned as the file says; none when it does not read. tooLarge tells a picture
// refused for its size from one that could not be read.
std::optional<QImage> decodeHeif(const QByteArray& bytes, bool* tooLarge);

}  // namespace Photos
