#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// A program that opens the desktop's own settings where screen capture is
// allowed or refused.
struct PrivacySettingsCommand {
    QString program;
    QStringList arguments;
};

// The settings program of the desktop named in `currentDesktop` (the form of
// XDG_CURRENT_DESKTOP, e.g. "ubuntu:GNOME"): GNOME's privacy panel, KDE's
// system settings. Nothing for a desktop whose settings we don't know.
std::optional<PrivacySettingsCommand> privacySettingsCommand(const QString& currentDesktop);
