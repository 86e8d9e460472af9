#include "video_frame_converter.h"

#include "libav_holders.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <array>

namespace {

// How the planes of a Qt pixel format are laid out in FFmpeg's terms.
struct Layout {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    bool swapChroma = false; // YV12 keeps V before U
};

Layout layoutOf(QVideoFrameFormat::PixelFormat format)
{
    using F = QVideoFrameFormat;
    switch (format) {
    // Qt names packed RGB formats by byte order, as FFmpeg does. The alpha
    // of premultiplied frames is kept as it is; movies are opaque anyway.
    case F::Format_ARGB8888:
    case F::Format_ARGB8888_Premultiplied:
        return {AV_PIX_FMT_ARGB};
    case F::Format_XRGB8888:
        return {AV_PIX_FMT_0RGB};
    case F::Format_BGRA8888:
    case F::Format_BGRA8888_Premultiplied:
        return {AV_PIX_FMT_BGRA};
    case F::Format_BGRX8888:
        return {AV_PIX_FMT_BGR0};
    case F::Format_ABGR8888:
        return {AV_PIX_FMT_ABGR};
    case F::Format_XBGR8888:
        return {AV_PIX_FMT_0BGR};
    case F::Format_RGBA8888:
        return {AV_PIX_FMT_RGBA};
    case F::Format_RGBX8888:
        return {AV_PIX_FMT_RGB0};
    case F::Format_YUV420P:
        return {AV_PIX_FMT_YUV420P};
    case F::Format_YUV422P:
        return {AV_PIX_FMT_YUV422P};
    case F::Format_YV12:
        return {AV_PIX_FMT_YUV420P, true};
    case F::Format_UYVY:
        return {AV_PIX_FMT_UYVY422};
    case F::Format_YUYV:
        return {AV_PIX_FMT_YUYV422};
    case F::Format_NV12:
        return {AV_PIX_FMT_NV12};
    case F::Format_NV21:
        return {AV_PIX_FMT_NV21};
    case F::Format_Y8:
        return {AV_PIX_FMT_GRAY8};
    case F::Format_Y16:
        return {AV_PIX_FMT_GRAY16LE};
    case F::Format_P010:
        return {AV_PIX_FMT_P010LE};
    case F::Format_P016:
        return {AV_PIX_FMT_P016LE};
    case F::Format_YUV420P10:
        return {AV_PIX_FMT_YUV420P10LE};
    default:
        return {};
    }
}

// Untagged movies are read as BT.709 in limited range, as the export reads them.
int coefficientsOf(QVideoFrameFormat::ColorSpace space)
{
    switch (space) {
    case QVideoFrameFormat::ColorSpace_BT601:
        return SWS_CS_ITU601;
    case QVideoFrameFormat::ColorSpace_BT2020:
        return SWS_CS_BT2020;
    default:
        return SWS_CS_ITU709;
    }
}

// The frame's planes mapped for reading, unmapped again when done.
class MappedFrame {
public:
    explicit MappedFrame(const QVideoFrame& frame) : m_frame(frame)
    {
        m_mapped = m_frame.map(QVideoFrame::ReadOnly);
    }
    ~MappedFrame()
    {
        if (m_mapped)
            m_frame.unmap();
    }
    MappedFrame(const MappedFrame&) = delete;
    MappedFrame& operator=(const MappedFrame&) = delete;

    bool mapped() const { return m_mapped; }
    QVideoFrame& frame() { return m_frame; }

private:
    QVideoFrame m_frame; // a shared handle; mapping it does not copy pixels
    bool m_mapped = false;
};

// FFmpeg's full-range YUV formats are the plain ones read in full range.
AVPixelFormat withoutFullRange(AVPixelFormat format, bool& fullRange)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    default:
        return format;
    }
}

int coefficientsOf(AVColorSpace space)
{
    switch (space) {
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_FCC:
        return SWS_CS_ITU601;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    default:
        return SWS_CS_ITU709;
    }
}

} // namespace

void VideoFrameConverter::ScaleDeleter::operator()(SwsContext* context) const
{
    libav::ScaleDeleter{}(context);
}

int VideoFrameConverter::avPixelFormat(QVideoFrameFormat::PixelFormat format)
{
    return layoutOf(format).format;
}

Result<void> VideoFrameConverter::convert(const QVideoFrame& frame, QSize size, QImage& target)
{
    const QVideoFrameFormat format = frame.surfaceFormat();
    const Layout layout = layoutOf(format.pixelFormat());
    if (layout.format == AV_PIX_FMT_NONE)
        return Result<void>::failure(
            tr("Its picture format (%1) is not supported.")
                .arg(QVideoFrameFormat::pixelFormatToString(format.pixelFormat())));

    MappedFrame mapped(frame);
    const int planes = av_pix_fmt_count_planes(layout.format);
    if (!mapped.mapped() || mapped.frame().planeCount() < planes)
        return Result<void>::failure(tr("Its pictures could not be read."));
    Picture picture;
    picture.format = layout.format;
    picture.size = format.frameSize();
    for (int plane = 0; plane < planes; ++plane) {
        picture.planes[plane] = mapped.frame().bits(plane);
        picture.strides[plane] = mapped.frame().bytesPerLine(plane);
    }
    if (layout.swapChroma) {
        std::swap(picture.planes[1], picture.planes[2]);
        std::swap(picture.strides[1], picture.strides[2]);
    }
    picture.coefficients = coefficientsOf(format.colorSpace());
    picture.fullRange = format.colorRange() == QVideoFrameFormat::ColorRange_Full;
    return scale(picture, size, target);
}

Result<void> VideoFrameConverter::convert(const AVFrame& frame, QSize size, QImage& target)
{
    Picture picture;
    picture.fullRange = frame.color_range == AVCOL_RANGE_JPEG;
    picture.format = withoutFullRange(AVPixelFormat(frame.format), picture.fullRange);
    picture.size = {frame.width, frame.height};
    for (int plane = 0; plane < 4; ++plane) {
        picture.planes[plane] = frame.data[plane];
        picture.strides[plane] = frame.linesize[plane];
    }
    picture.coefficients = coefficientsOf(frame.colorspace);
    return scale(picture, size, target);
}

Result<void> VideoFrameConverter::scale(const Picture& picture, QSize size, QImage& target)
{
    if (size.isEmpty() || picture.size.isEmpty())
        return Result<void>::failure(tr("The picture has no size."));
    const bool same = m_scaler && m_made.format == picture.format && m_made.size == picture.size &&
                      m_made.coefficients == picture.coefficients &&
                      m_made.fullRange == picture.fullRange && m_madeSize == size;
    if (!same) {
        m_scaler.reset(sws_getContext(picture.size.width(), picture.size.height(),
                                      AVPixelFormat(picture.format), size.width(), size.height(),
                                      AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!m_scaler)
            return Result<void>::failure(tr("Its pictures could not be scaled."));
        const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(AVPixelFormat(picture.format));
        if (descriptor && !(descriptor->flags & AV_PIX_FMT_FLAG_RGB))
            sws_setColorspaceDetails(m_scaler.get(), sws_getCoefficients(picture.coefficients),
                                     picture.fullRange, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                                     1 << 16, 1 << 16);
        m_made = picture;
        m_madeSize = size;
    }

    // bits() below copies the buffer only when someone else still holds it.
    if (target.size() != size || target.format() != QImage::Format_ARGB32)
        target = QImage(size, QImage::Format_ARGB32);
    if (target.isNull())
        return Result<void>::failure(tr("There is not enough memory for its pictures."));
    uint8_t* destination[4] = {target.bits(), nullptr, nullptr, nullptr};
    const int destinationStrides[4] = {int(target.bytesPerLine()), 0, 0, 0};
    sws_scale(m_scaler.get(), picture.planes.data(), picture.strides.data(), 0,
              picture.size.height(), destination, destinationStrides);
    return {};
}
