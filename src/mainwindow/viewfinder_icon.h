#pragma once

#include <QPixmap>

// Quorvel's own icon until the application gives the window one: a
// viewfinder's corners round a dot, white on a rounded square of the accent
// blue, `side` points square at `devicePixelRatio`. The installed icon
// (data/icons/<app id>.svg) is the same drawing.
QPixmap viewfinderIcon(int side, qreal devicePixelRatio);
