#pragma once

#include <QIcon>

// The symbols beside the tray panel's entries. Each comes from the desktop's
// icon theme when it has a fitting one, and is otherwise drawn here, so the
// panel looks whole without any theme. They are templates: the button paints
// them in its label's colour.
enum class PanelSymbol { window, crop, photo, film, power };

// The side, in logical pixels, at which the panel shows the symbols.
inline constexpr int kPanelSymbolSize = 18;

QIcon panelSymbol(PanelSymbol symbol);
// The drawn symbol alone, whatever the theme holds.
QIcon drawnPanelSymbol(PanelSymbol symbol);
// Whether `icon` works as a template at `size`: there is a picture near that
// size, and it is a shape on a clear ground rather than full-colour artwork.
bool usableAsPanelSymbol(const QIcon& icon, int size);
