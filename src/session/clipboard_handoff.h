#pragma once

#include <QByteArray>
#include <QString>

// The word that starts quorvel as the background keeper of a copied picture
// (see runClipboardHolder); not a command anyone types.
inline constexpr char kHoldClipboardCommand[] = "__hold-clipboard";

// Puts a PNG on the clipboard so that it is still there once this process has
// ended. A clipboard's content lives only as long as the process that owns
// it, so the picture is handed to the running app when there is one, and
// otherwise to a quorvel process of its own in the background, which keeps it
// until another program takes the clipboard over, as xclip does. On Wayland
// wl-copy (wl-clipboard) is that process, and the copy counts only once
// wl-paste has read it back. Returns once the picture is on the clipboard:
// empty then, else why it is not.
QString handOffToClipboard(const QByteArray& png);
