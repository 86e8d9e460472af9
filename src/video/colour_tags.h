#pragma once

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

#include <cstring>

// How a movie's YUV numbers are to be read. Untagged sources are taken as
// BT.709, limited range, what screen recordings and most players assume.
// Default-constructed, the tags are those of every movie Quorvel writes: SDR
// BT.709, limited range, which every player and upload site reads the same way.
struct ColourTags {
    AVColorPrimaries primaries = AVCOL_PRI_BT709;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_BT709;
    AVColorSpace space = AVCOL_SPC_BT709;
    AVColorRange range = AVCOL_RANGE_MPEG;

    // Light levels beyond SDR (PQ or HLG): the pictures must be tone-mapped.
    bool highDynamicRange() const
    {
        return transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
    }
    // Primaries whose red, green and blue are not BT.709's (BT.2020, P3, ...):
    // the colours must be moved into BT.709's gamut. BT.601's and SMPTE 240M's
    // are near enough that players read them as BT.709, and so do we.
    bool wideGamut() const
    {
        return primaries != AVCOL_PRI_BT709 && primaries != AVCOL_PRI_BT470BG &&
               primaries != AVCOL_PRI_SMPTE170M && primaries != AVCOL_PRI_SMPTE240M;
    }

    static ColourTags of(const AVCodecParameters& source)
    {
        ColourTags tags;
        const AVColorPrimaries primaries = known(source.color_primaries, AVCOL_PRI_UNSPECIFIED);
        if (primaries != AVCOL_PRI_UNSPECIFIED)
            tags.primaries = primaries;
        const AVColorTransferCharacteristic transfer =
            known(source.color_trc, AVCOL_TRC_UNSPECIFIED);
        if (transfer != AVCOL_TRC_UNSPECIFIED)
            tags.transfer = transfer;
        // An RGB or palette source has no YUV matrix, and its "full range"
        // describes RGB, not YUV: it is read as RGB whatever these say.
        const AVColorSpace space = known(source.color_space, AVCOL_SPC_UNSPECIFIED);
        const bool rgb = space == AVCOL_SPC_RGB || holdsRgb(source.format);
        if (space != AVCOL_SPC_UNSPECIFIED && !rgb)
            tags.space = space;
        if (known(source.color_range, AVCOL_RANGE_UNSPECIFIED) == AVCOL_RANGE_JPEG && !rgb)
            tags.range = AVCOL_RANGE_JPEG;
        return tags;
    }

    // How `picture` reads: its own tags where it has them, `stream`'s for the
    // rest. The deprecated "J" formats are full range whatever they say.
    static ColourTags of(const AVFrame& picture, const ColourTags& stream)
    {
        ColourTags tags = stream;
        const AVColorPrimaries primaries = known(picture.color_primaries, AVCOL_PRI_UNSPECIFIED);
        if (primaries != AVCOL_PRI_UNSPECIFIED)
            tags.primaries = primaries;
        const AVColorTransferCharacteristic transfer =
            known(picture.color_trc, AVCOL_TRC_UNSPECIFIED);
        if (transfer != AVCOL_TRC_UNSPECIFIED)
            tags.transfer = transfer;
        const AVColorSpace space = known(picture.colorspace, AVCOL_SPC_UNSPECIFIED);
        if (space != AVCOL_SPC_UNSPECIFIED && space != AVCOL_SPC_RGB)
            tags.space = space;
        const AVColorRange range = known(picture.color_range, AVCOL_RANGE_UNSPECIFIED);
        if (range != AVCOL_RANGE_UNSPECIFIED)
            tags.range = range;
        switch (picture.format) {
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
        case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ411P:
            tags.range = AVCOL_RANGE_JPEG;
            break;
        default:
            break;
        }
        return tags;
    }

    // Whether pictures in `format` hold RGB numbers, directly or through a palette.
    static bool holdsRgb(int format)
    {
        const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(AVPixelFormat(format));
        return descriptor && (descriptor->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
    }

    // The tag in `field` when FFmpeg has a name for it, otherwise `fallback`.
    // A damaged header can put any byte there (decoders copy it as it is);
    // one outside the enumeration is not a value the type may hold, and
    // swscale and the muxer do not know it. So the field's bits are checked
    // before they are read as the enumeration, and "reserved" counts as unknown.
    template <typename Tag> static Tag known(const Tag& field, Tag fallback)
    {
        int raw = 0;
        static_assert(sizeof raw == sizeof field);
        std::memcpy(&raw, &field, sizeof raw);
        if (raw < 0 || raw >= count(fallback))
            return fallback;
        const char* text = name(Tag(raw));
        return text && std::strcmp(text, "reserved") != 0 ? Tag(raw) : fallback;
    }

private:
    static int count(AVColorPrimaries) { return AVCOL_PRI_NB; }
    static int count(AVColorTransferCharacteristic) { return AVCOL_TRC_NB; }
    static int count(AVColorSpace) { return AVCOL_SPC_NB; }
    static int count(AVColorRange) { return AVCOL_RANGE_NB; }
    static const char* name(AVColorPrimaries tag) { return av_color_primaries_name(tag); }
    static const char* name(AVColorTransferCharacteristic tag)
    {
        return av_color_transfer_name(tag);
    }
    static const char* name(AVColorSpace tag) { return av_color_space_name(tag); }
    static const char* name(AVColorRange tag) { return av_color_range_name(tag); }
};
