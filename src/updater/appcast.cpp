#include "appcast.h"

#include <QXmlStreamReader>
#include <algorithm>

namespace {

const QString sparkleNamespace =
    QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// --- versions -------------------------------------------------------------

enum class PartKind { number, period, text };

struct VersionPart {
    PartKind kind;
    QString text;
};

PartKind kindOf(QChar c)
{
    if (c.isDigit())
        return PartKind::number;
    if (c == u'.')
        return PartKind::period;
    return PartKind::text;
}

// "1.10b2" -> 1 . 10 b 2. Each period is a part of its own; white space only
// separates ("2.0 beta 1").
QList<VersionPart> splitVersion(const QString& version)
{
    QList<VersionPart> parts;
    bool boundary = true;
    for (const QChar c : version) {
        if (c.isSpace()) {
            boundary = true;
            continue;
        }
        const PartKind kind = kindOf(c);
        if (!boundary && parts.last().kind == kind && kind != PartKind::period)
            parts.last().text.append(c);
        else
            parts.append({kind, QString(c)});
        boundary = false;
    }
    return parts;
}

// Digit runs of any length, without overflow: fewer significant digits is
// smaller, equal lengths compare as text.
int compareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

int compareVersions(const QString& a, const QString& b)
{
    const QList<VersionPart> left = splitVersion(a);
    const QList<VersionPart> right = splitVersion(b);
    const qsizetype common = std::min(left.size(), right.size());
    for (qsizetype i = 0; i < common; ++i) {
        const VersionPart& l = left[i];
        const VersionPart& r = right[i];
        if (l.kind == r.kind) {
            int order = 0;
            if (l.kind == PartKind::number)
                order = compareNumbers(l.text, r.text);
            else if (l.kind == PartKind::text)
                order = l.text.compare(r.text);
            if (order != 0)
                return sign(order);
            continue;
        }
        // A letter marks a pre-release, so anything else beats it; between a
        // number and a period the number is the later release.
        if (l.kind == PartKind::text)
            return -1;
        if (r.kind == PartKind::text)
            return 1;
        return l.kind == PartKind::number ? 1 : -1;
    }
    if (left.size() == right.size())
        return 0;
    // The longer one goes on: with letters it is a pre-release of the shorter
    // one (2.0b1 < 2.0), with numbers a later release (2.0.1 > 2.0).
    const QList<VersionPart>& longer = left.size() > right.size() ? left : right;
    qsizetype next = common;
    while (next < longer.size() && longer[next].kind == PartKind::period)
        ++next;
    const bool longerIsNewer = next < longer.size() && longer[next].kind == PartKind::number;
    const bool leftIsLonger = left.size() > right.size();
    return (longerIsNewer == leftIsLonger) ? 1 : -1;
}

namespace {

// --- feed -----------------------------------------------------------------

QString sparkleValue(const QXmlStreamAttributes& attributes, const QString& name)
{
    const QStringView value = attributes.value(sparkleNamespace, name);
    if (!value.isEmpty())
        return value.trimmed().toString();
    // Feeds that forgot to declare the namespace still mean the same.
    return attributes.value(QStringLiteral("sparkle:") + name).trimmed().toString();
}

bool isSparkle(const QXmlStreamReader& xml, const QString& name)
{
    return xml.name() == name && (xml.namespaceUri() == sparkleNamespace ||
                                  xml.qualifiedName() == QStringLiteral("sparkle:") + name);
}

// A page to send a person to: the web, nothing local or scripted.
QUrl webUrl(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"https" || scheme == u"http") && !url.host().isEmpty()
               ? url
               : QUrl();
}

// Reads one <item> up to its end tag.
AppcastItem readItem(QXmlStreamReader& xml)
{
    AppcastItem item;
    QUrl enclosure;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"enclosure" && xml.namespaceUri().isEmpty()) {
            const QXmlStreamAttributes attributes = xml.attributes();
            enclosure = webUrl(attributes.value(QStringLiteral("url")).toString());
            if (item.version.isEmpty())
                item.version = sparkleValue(attributes, QStringLiteral("version"));
            if (item.shortVersionString.isEmpty())
                item.shortVersionString =
                    sparkleValue(attributes, QStringLiteral("shortVersionString"));
            xml.skipCurrentElement();
        } else if (isSparkle(xml, QStringLiteral("version"))) {
            item.version = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QStringLiteral("shortVersionString"))) {
            item.shortVersionString = xml.readElementText().trimmed();
        } else if (xml.name() == u"title" && xml.namespaceUri().isEmpty()) {
            item.title = xml.readElementText().simplified();
        } else if (xml.name() == u"description" && xml.namespaceUri().isEmpty()) {
            item.releaseNotes = xml.readElementText().trimmed();
        } else if (xml.name() == u"link" && xml.namespaceUri().isEmpty()) {
            item.downloadPage = webUrl(xml.readElementText());
        } else {
            xml.skipCurrentElement();
        }
    }
    if (item.downloadPage.isEmpty())
        item.downloadPage = enclosure;
    return item;
}

} // namespace

AppcastParse parseAppcast(const QByteArray& bytes)
{
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != u"rss") {
        if (xml.hasError())
            return QStringLiteral("the feed is not well-formed XML (line %1: %2)")
                .arg(xml.lineNumber())
                .arg(xml.errorString());
        return QStringLiteral("the feed is not an RSS appcast");
    }
    QList<AppcastItem> items;
    bool sawChannel = false;
    while (xml.readNextStartElement()) {
        if (xml.name() != u"channel") {
            xml.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (xml.readNextStartElement()) {
            if (xml.name() != u"item") {
                xml.skipCurrentElement();
                continue;
            }
            AppcastItem item = readItem(xml);
            if (!item.version.isEmpty() && !item.downloadPage.isEmpty())
                items.append(std::move(item));
        }
    }
    // Trailing junk after </rss> is an error too: the document must be whole.
    while (!xml.atEnd() && !xml.hasError())
        xml.readNext();
    if (xml.hasError())
        return QStringLiteral("the feed is not well-formed XML (line %1: %2)")
            .arg(xml.lineNumber())
            .arg(xml.errorString());
    if (!sawChannel)
        return QStringLiteral("the feed is not an RSS appcast");
    return items;
}

const AppcastItem* newestItem(const QList<AppcastItem>& items)
{
    const auto newest =
        std::max_element(items.begin(), items.end(), [](const auto& a, const auto& b) {
            return compareVersions(a.version, b.version) < 0;
        });
    return newest == items.end() ? nullptr : &*newest;
}
