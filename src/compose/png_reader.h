#pragma once

#include "result.h"

#include <QIODevice>
#include <QImage>

// Decodes a PNG with libpng under our own error handlers: libpng's defaults
// print to the terminal, and a failure's words belong in its reason.
//
// Every colour type and bit depth comes back with its transparency (palette
// or colour key) as alpha: 16-bit files as RGBA64 or RGBX64, the rest as
// ARGB32 or RGB32. The colour space comes from iCCP, sRGB or gAMA (with
// cHRM when present), the density from pHYs. The device must be at the
// file's start; the caller has checked the picture's size.
Result<QImage> readPng(QIODevice& device);
