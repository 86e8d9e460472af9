#include "privacy_settings.h"

std::optional<PrivacySettingsCommand> privacySettingsCommand(const QString& currentDesktop)
{
    const QStringList names = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const auto is = [&names](const char* name) {
        return names.contains(QLatin1String(name), Qt::CaseInsensitive);
    };
    // Derivatives name GNOME after themselves ("ubuntu:GNOME", "Unity").
    if (is("GNOME") || is("Unity"))
        return PrivacySettingsCommand{QStringLiteral("gnome-control-center"),
                                      {QStringLiteral("privacy")}};
    if (is("KDE"))
        return PrivacySettingsCommand{QStringLiteral("systemsettings"), {}};
    return std::nullopt;
}
