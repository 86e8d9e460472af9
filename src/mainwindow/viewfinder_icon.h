#pragma once

#include <QPixmap>

// Quorvel's own icon until the application gives the window one: a
// viewfinder's corners round a dot, white on the accent blue, `side` points
// square at `devicePixelRatio`.
QPixmap viewfinderIcon(int side, qreal devicePixelRatio);
