#pragma once

#include <QDBusConnection>
#include <QDBusError>
#include <QString>

// What every call to the desktop's portal (screenshots, screen casts) shares.
namespace portal {
inline constexpr char kService[] = "org.freedesktop.portal.Desktop";
inline constexpr char kPath[] = "/org/freedesktop/portal/desktop";
inline constexpr char kScreenshotInterface[] = "org.freedesktop.portal.Screenshot";

// A handle token no other request of this process has used.
QString newHandleToken();

// The portal names a request's object after the caller and the token, so we
// can listen there before asking and cannot miss a quick answer.
QString predictedRequestPath(const QDBusConnection& bus, const QString& token);

// How a failure reads for one portal: "the desktop's <name> is not running",
// "the desktop's portal offers no <offers>", "the desktop does not allow
// Quorvel to <allowsTo>".
struct Wording {
    QString name;
    QString offers;
    QString allowsTo;
};

// A portal's error text is written for developers ("No such interface … on
// object at path …"); the person gets what it means, in our words.
QString describe(const QDBusError& error, const Wording& words);
} // namespace portal
