#pragma once

#include "file_reveal.h"

// Shows a file in the desktop's file manager through the FileManager1 D-Bus
// service (Nautilus, Dolphin, Nemo, Thunar...). Without that service it
// opens the file's folder instead. Never blocks.
class DesktopFileReveal : public FileReveal {
public:
    void reveal(const QString& path) override;
};
