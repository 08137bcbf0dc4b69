#include "photos/heif_decoding.h"
#include "photos/photo_preparation.h"

#include <libheif/heif.h>

#include <memory>

namespace Photos {

namespace {

// A file of a few bytes may declare a picture of any size: the decoder is stopped before it sets
// aside memory for one larger than Qt's own image readers accept (256 MiB as a 32-bit image).
constexpr int HeifLongestSide = 16384;
constexpr qint64 HeifMostPixels = 64LL * 1024 * 1024;

}  // namespace

bool readsHeif() { return true; }

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

}  // namespace Photos
