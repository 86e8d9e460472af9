#pragma once

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

// How the movie's YUV numbers are to be read. The output keeps the source's
// tags so its colours look the same; untagged sources are taken as BT.709,
// what screen recordings and most players assume.
struct ColourTags {
    AVColorPrimaries primaries = AVCOL_PRI_BT709;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_BT709;
    AVColorSpace space = AVCOL_SPC_BT709;
    AVColorRange range = AVCOL_RANGE_MPEG;

    static ColourTags of(const AVCodecParameters& source)
    {
        ColourTags tags;
        if (source.color_primaries != AVCOL_PRI_UNSPECIFIED)
            tags.primaries = source.color_primaries;
        if (source.color_trc != AVCOL_TRC_UNSPECIFIED)
            tags.transfer = source.color_trc;
        // An RGB or palette source still comes out as YUV, so it needs a YUV
        // matrix and the usual limited range: its own "full range" describes
        // RGB, not YUV.
        const bool rgb = source.color_space == AVCOL_SPC_RGB || holdsRgb(source.format);
        if (source.color_space != AVCOL_SPC_UNSPECIFIED && !rgb)
            tags.space = source.color_space;
        if (source.color_range == AVCOL_RANGE_JPEG && !rgb)
            tags.range = AVCOL_RANGE_JPEG;
        return tags;
    }

    // Whether pictures in `format` hold RGB numbers, directly or through a palette.
    static bool holdsRgb(int format)
    {
        const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(AVPixelFormat(format));
        return descriptor && (descriptor->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
    }
};
