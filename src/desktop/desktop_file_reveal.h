#pragma once

#include "file_reveal.h"

#include <QDBusConnection>

// Shows a file in the desktop's file manager through the FileManager1 D-Bus
// service (Nautilus, Dolphin, Nemo, Thunar...). Without that service it
// opens the file's folder instead. Never blocks.
class DesktopFileReveal : public FileReveal {
public:
    explicit DesktopFileReveal(QDBusConnection bus = QDBusConnection::sessionBus())
        : m_bus(std::move(bus))
    {
    }
    void reveal(const QString& path) override;

private:
    QDBusConnection m_bus;
};
