#include "heif_reader.h"

#include <QColorSpace>
#include <QPointF>
#include <dlfcn.h>
#include <libheif/heif.h>

namespace {

// libheif is loaded the first time a HEIF picture is read, not with the
// program: it brings four video decoders and encoders whose loading and
// start-up would otherwise hold up every start of the app.
#define QUORVEL_LIBHEIF_FUNCTIONS(X)                                                               \
    X(heif_check_filetype)                                                                         \
    X(heif_context_alloc)                                                                          \
    X(heif_context_free)                                                                           \
    X(heif_context_get_primary_image_handle)                                                       \
    X(heif_context_read_from_memory_without_copy)                                                  \
    X(heif_decode_image)                                                                           \
    X(heif_decoding_options_alloc)                                                                 \
    X(heif_decoding_options_free)                                                                  \
    X(heif_image_get_height)                                                                       \
    X(heif_image_get_plane_readonly)                                                               \
    X(heif_image_get_width)                                                                        \
    X(heif_image_handle_get_height)                                                                \
    X(heif_image_handle_get_nclx_color_profile)                                                    \
    X(heif_image_handle_get_raw_color_profile)                                                     \
    X(heif_image_handle_get_raw_color_profile_size)                                                \
    X(heif_image_handle_get_width)                                                                 \
    X(heif_image_handle_has_alpha_channel)                                                         \
    X(heif_image_handle_is_premultiplied_alpha)                                                    \
    X(heif_image_handle_release)                                                                   \
    X(heif_image_release)                                                                          \
    X(heif_init)                                                                                   \
    X(heif_nclx_color_profile_free)

struct Libheif {
#define QUORVEL_LIBHEIF_POINTER(name) decltype(&::name) name = nullptr;
    QUORVEL_LIBHEIF_FUNCTIONS(QUORVEL_LIBHEIF_POINTER)
#undef QUORVEL_LIBHEIF_POINTER
    QString error; // why it could not be loaded; empty when it was
};

Libheif loadLibheif()
{
    Libheif lib;
    // Never closed: decoders may be running on other threads until the end.
    void* handle = dlopen("libheif.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        lib.error = QString::fromLocal8Bit(dlerror());
        return lib;
    }
#define QUORVEL_LIBHEIF_RESOLVE(name)                                                              \
    lib.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                          \
    if (!lib.name && lib.error.isEmpty())                                                          \
        lib.error = QStringLiteral("libheif.so.1 has no " #name);
    QUORVEL_LIBHEIF_FUNCTIONS(QUORVEL_LIBHEIF_RESOLVE)
#undef QUORVEL_LIBHEIF_RESOLVE
    return lib;
}

const Libheif& libheif()
{
    static const Libheif lib = loadLibheif();
    return lib;
}

} // namespace

namespace {

// libheif wants one heif_init() before use; a function-local static makes
// that once, whichever thread gets here first. It is never undone: decoders
// may be loading on other threads until the process ends.
heif_error initLibheif()
{
    if (!libheif().error.isEmpty()) {
        static const QByteArray reason = libheif().error.toUtf8();
        return {heif_error_Unsupported_feature, heif_suberror_Unspecified, reason.constData()};
    }
    static const heif_error result = libheif().heif_init(nullptr);
    return result;
}

QString reasonFor(const heif_error& error)
{
    // Some of libheif's messages end in a line break; the reason is one line.
    const QString message = QString::fromUtf8(error.message).simplified();
    if (error.code == heif_error_Invalid_input && error.subcode == heif_suberror_End_of_data)
        return QStringLiteral("the file is cut short");
    if (error.code == heif_error_Unsupported_filetype ||
        error.code == heif_error_Unsupported_feature)
        return QStringLiteral("not a picture Quorvel can read (%1)").arg(message);
    return QStringLiteral("the picture is damaged: %1").arg(message);
}

// The colour space the file names, or an invalid one when it names sRGB,
// nothing, or something Qt cannot map (PQ and HLG curves): such a picture is
// shown as it is rather than refused.
QColorSpace colorSpaceOf(const heif_image_handle* handle)
{
    if (const size_t size = libheif().heif_image_handle_get_raw_color_profile_size(handle)) {
        QByteArray icc(qsizetype(size), Qt::Uninitialized);
        if (libheif().heif_image_handle_get_raw_color_profile(handle, icc.data()).code !=
            heif_error_Ok)
            return {};
        return QColorSpace::fromIccProfile(icc);
    }
    heif_color_profile_nclx* raw = nullptr;
    if (libheif().heif_image_handle_get_nclx_color_profile(handle, &raw).code != heif_error_Ok ||
        !raw)
        return {};
    const std::unique_ptr<heif_color_profile_nclx, void (*)(heif_color_profile_nclx*)> nclx(
        raw, libheif().heif_nclx_color_profile_free);

    QColorSpace::TransferFunction transfer = QColorSpace::TransferFunction::SRgb;
    switch (nclx->transfer_characteristics) {
    case heif_transfer_characteristic_IEC_61966_2_1:
    case heif_transfer_characteristic_unspecified:
    // Camera curves for stills; every viewer shows them as sRGB's.
    case heif_transfer_characteristic_ITU_R_BT_709_5:
    case heif_transfer_characteristic_ITU_R_BT_601_6:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit:
        break;
    case heif_transfer_characteristic_linear:
        transfer = QColorSpace::TransferFunction::Linear;
        break;
    default:
        return {};
    }
    switch (nclx->color_primaries) {
    case heif_color_primaries_ITU_R_BT_709_5:
    case heif_color_primaries_unspecified:
        if (transfer == QColorSpace::TransferFunction::SRgb)
            return {};
        return QColorSpace(QColorSpace::Primaries::SRgb, transfer);
    case heif_color_primaries_SMPTE_EG_432_1:
        return QColorSpace(QColorSpace::Primaries::DciP3D65, transfer);
    default:
        return QColorSpace(QPointF(nclx->color_primary_white_x, nclx->color_primary_white_y),
                           QPointF(nclx->color_primary_red_x, nclx->color_primary_red_y),
                           QPointF(nclx->color_primary_green_x, nclx->color_primary_green_y),
                           QPointF(nclx->color_primary_blue_x, nclx->color_primary_blue_y),
                           transfer);
    }
}

void releaseHeifImage(void* image)
{
    libheif().heif_image_release(static_cast<heif_image*>(image));
}

} // namespace

bool isHeifPicture(QByteArrayView head)
{
    // Every HEIF file is an ISO media file, which opens with a "ftyp" box;
    // libheif is loaded only to look closer at those.
    if (head.size() < 12 || head.sliced(4, 4) != "ftyp" || !libheif().error.isEmpty())
        return false;
    return libheif().heif_check_filetype(reinterpret_cast<const uint8_t*>(head.data()),
                                         int(head.size())) == heif_filetype_yes_supported;
}

HeifReader::HeifReader(QByteArray bytes)
    : m_bytes(std::move(bytes)), m_context(nullptr, libheif().heif_context_free),
      m_handle(nullptr, libheif().heif_image_handle_release)
{
}

HeifReader::~HeifReader() = default;

Result<void> HeifReader::open()
{
    if (m_handle)
        return {};
    if (const heif_error started = initLibheif(); started.code != heif_error_Ok)
        return Result<void>::failure(QStringLiteral("HEIF pictures cannot be read here: %1")
                                         .arg(QString::fromUtf8(started.message)));
    m_context.reset(libheif().heif_context_alloc());
    if (!m_context)
        return Result<void>::failure(QStringLiteral("not enough memory for the picture"));
    // Checks every item's extents against the data, so a short file fails here.
    heif_error error = libheif().heif_context_read_from_memory_without_copy(
        m_context.get(), m_bytes.constData(), size_t(m_bytes.size()), nullptr);
    if (error.code != heif_error_Ok)
        return Result<void>::failure(reasonFor(error));
    heif_image_handle* handle = nullptr;
    error = libheif().heif_context_get_primary_image_handle(m_context.get(), &handle);
    if (error.code != heif_error_Ok)
        return Result<void>::failure(reasonFor(error));
    m_handle.reset(handle);
    return {};
}

Result<QSize> HeifReader::size()
{
    if (const Result<void> opened = open(); !opened.ok())
        return Result<QSize>::failure(opened.error());
    return QSize(libheif().heif_image_handle_get_width(m_handle.get()),
                 libheif().heif_image_handle_get_height(m_handle.get()));
}

Result<QImage> HeifReader::read()
{
    if (const Result<void> opened = open(); !opened.ok())
        return Result<QImage>::failure(opened.error());
    const heif_image_handle* handle = m_handle.get();
    const bool alpha = libheif().heif_image_handle_has_alpha_channel(handle);
    const bool premultiplied = alpha && libheif().heif_image_handle_is_premultiplied_alpha(handle);

    const std::unique_ptr<heif_decoding_options, void (*)(heif_decoding_options*)> options(
        libheif().heif_decoding_options_alloc(), libheif().heif_decoding_options_free);
    if (!options)
        return Result<QImage>::failure(QStringLiteral("not enough memory for the picture"));
    options->convert_hdr_to_8bit = 1; // we keep 8 bits per channel anyway
    options->strict_decoding = 1;     // an error, not a best guess, for broken data
    heif_image* decoded = nullptr;
    const heif_error error = libheif().heif_decode_image(
        handle, &decoded, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    if (error.code != heif_error_Ok)
        return Result<QImage>::failure(reasonFor(error));

    int stride = 0;
    const uint8_t* pixels =
        libheif().heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int width = libheif().heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = libheif().heif_image_get_height(decoded, heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0) {
        libheif().heif_image_release(decoded);
        return Result<QImage>::failure(QStringLiteral("the picture is damaged"));
    }
    // Wrapped, not copied: libheif's buffer is released as soon as Qt has
    // converted it, so at most the two formats are held at once.
    QImage image;
    {
        const QImage wrapped(pixels, width, height, stride,
                             alpha ? (premultiplied ? QImage::Format_RGBA8888_Premultiplied
                                                    : QImage::Format_RGBA8888)
                                   : QImage::Format_RGB888,
                             releaseHeifImage, decoded);
        if (wrapped.isNull()) {
            libheif().heif_image_release(decoded); // Qt calls the cleanup only for an image it made
            return Result<QImage>::failure(QStringLiteral("the picture is damaged"));
        }
        image = wrapped.convertToFormat(
            alpha ? (premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32)
                  : QImage::Format_RGB32);
    }
    if (image.isNull())
        return Result<QImage>::failure(QStringLiteral("not enough memory for the picture"));
    image.setColorSpace(colorSpaceOf(handle));
    return image;
}
