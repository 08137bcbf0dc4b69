// The build without libheif (RETRATIX_HEIF off): no HEIC/HEIF photo reads, and the formats setting
// refuses to name them.
#include "photos/heif_decoding.h"
#include "photos/photo_preparation.h"

namespace Photos {

bool readsHeif() { return false; }

std::optional<QImage> decodeHeif(const QByteArray&, bool* tooLarge)
{
    *tooLarge = false;
    return std::nullopt;
}

}  // namespace Photos
