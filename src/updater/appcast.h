#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <variant>

// One release as an appcast feed lists it: an RSS <item> whose version is
// given by sparkle:version (on the <enclosure> or as an element of its own).
struct AppcastItem {
    QString title;
    QString version;            // what is compared: the build version
    QString shortVersionString; // what is shown; falls back to `version`
    QString releaseNotes;       // the item's <description>, HTML as the feed gives it
    QUrl downloadPage;          // <link> when given, else the enclosure's url

    QString displayVersion() const
    {
        return shortVersionString.isEmpty() ? version : shortVersionString;
    }
};

// The releases of a feed, or why the bytes are no appcast (one line).
using AppcastParse = std::variant<QList<AppcastItem>, QString>;

// Reads an RSS appcast. Items without a version or without anything to
// download are skipped; bytes that are not well-formed RSS are an error.
AppcastParse parseAppcast(const QByteArray& bytes);

// The newest item of `items` (by compareVersions), or null when empty.
const AppcastItem* newestItem(const QList<AppcastItem>& items);

// Compares two version strings the way appcasts mean them: runs of digits
// compare as numbers (1.10 > 1.9), and a release beats its own pre-releases
// (2.0 > 2.0b1), while further numbers make a later release (2.0.1 > 2.0).
// Answers <0, 0 or >0 like strcmp.
int compareVersions(const QString& a, const QString& b);
