#pragma once

#include "byte_reader.h"
#include "picture_structure.h"

#include <QSize>

// Walks a TIFF's first directory (classic or big TIFF) and the strips or
// tiles it lists: each must lie inside the file. libtiff refuses a short
// strip too, but only after printing its own complaint. `size` gets the
// directory's width and height.
PictureStructure::Verdict checkTiffStructure(ByteReader& reader, QSize& size);
