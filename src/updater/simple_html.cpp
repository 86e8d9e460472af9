#include "simple_html.h"

#include <QList>
#include <QUrl>
#include <algorithm>

namespace {

constexpr qsizetype kDeepest = 8;             // kept elements open at once
constexpr qsizetype kMostElements = 4000;     // kept elements in all
constexpr qsizetype kLongestText = 16 * 1024; // characters of text

struct Element {
    QLatin1StringView name;
    bool block;  // ends an open paragraph, as in a browser
    bool isVoid; // has no content and no end tag
};

constexpr Element kKept[] = {
    {QLatin1StringView("p"), true, false},    {QLatin1StringView("br"), false, true},
    {QLatin1StringView("hr"), true, true},    {QLatin1StringView("h1"), true, false},
    {QLatin1StringView("h2"), true, false},   {QLatin1StringView("h3"), true, false},
    {QLatin1StringView("h4"), true, false},   {QLatin1StringView("h5"), true, false},
    {QLatin1StringView("h6"), true, false},   {QLatin1StringView("ul"), true, false},
    {QLatin1StringView("ol"), true, false},   {QLatin1StringView("li"), true, false},
    {QLatin1StringView("pre"), true, false},  {QLatin1StringView("blockquote"), true, false},
    {QLatin1StringView("b"), false, false},   {QLatin1StringView("strong"), false, false},
    {QLatin1StringView("i"), false, false},   {QLatin1StringView("em"), false, false},
    {QLatin1StringView("u"), false, false},   {QLatin1StringView("code"), false, false},
    {QLatin1StringView("tt"), false, false},  {QLatin1StringView("sub"), false, false},
    {QLatin1StringView("sup"), false, false}, {QLatin1StringView("a"), false, false},
};

// Elements whose content is not text to read.
constexpr QLatin1StringView kHidden[] = {
    QLatin1StringView("script"),   QLatin1StringView("style"),    QLatin1StringView("title"),
    QLatin1StringView("template"), QLatin1StringView("textarea"), QLatin1StringView("select")};

// Dropped elements that still separate lines of text (a table's rows, a div).
constexpr QLatin1StringView kLineBreaking[] = {
    QLatin1StringView("div"),     QLatin1StringView("tr"),      QLatin1StringView("table"),
    QLatin1StringView("dt"),      QLatin1StringView("dd"),      QLatin1StringView("dl"),
    QLatin1StringView("section"), QLatin1StringView("article"), QLatin1StringView("header"),
    QLatin1StringView("footer"),  QLatin1StringView("center"),  QLatin1StringView("figure"),
    QLatin1StringView("caption"), QLatin1StringView("address"), QLatin1StringView("summary")};

const Element* keptElement(QStringView name)
{
    const auto found = std::find_if(std::begin(kKept), std::end(kKept),
                                    [name](const Element& e) { return name == e.name; });
    return found == std::end(kKept) ? nullptr : found;
}

template <std::size_t N> bool isOneOf(QStringView name, const QLatin1StringView (&names)[N])
{
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u':';
}

// The few character references an address needs; Qt reads the rest in text.
QString decodeAttribute(QStringView value)
{
    QString text = value.toString();
    text.replace(QLatin1StringView("&quot;"), QLatin1StringView("\""))
        .replace(QLatin1StringView("&#39;"), QLatin1StringView("'"))
        .replace(QLatin1StringView("&lt;"), QLatin1StringView("<"))
        .replace(QLatin1StringView("&gt;"), QLatin1StringView(">"))
        .replace(QLatin1StringView("&amp;"), QLatin1StringView("&"));
    return text;
}

QString webAddress(const QString& href)
{
    const QUrl url(href.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"https" && scheme != u"http") || url.host().isEmpty())
        return {};
    return url.toString(QUrl::FullyEncoded);
}

class Simplifier {
public:
    explicit Simplifier(QStringView html) : m_html(html) {}

    QString run()
    {
        while (m_at < m_html.size() && m_textLeft > 0) {
            if (m_html[m_at] == u'<')
                markup();
            else
                text();
        }
        if (m_textLeft <= 0)
            m_out += QChar(0x2026);
        closeDownTo(0);
        return m_out;
    }

private:
    void text()
    {
        const QChar c = m_html[m_at++];
        --m_textLeft;
        if (c == u'&') {
            m_out += reference() ? QStringView(u"&") : QStringView(u"&amp;");
            return;
        }
        if (c == u'>')
            m_out += QLatin1StringView("&gt;");
        else
            m_out += c;
    }

    // A well-formed character reference after '&' is passed on for Qt to read.
    bool reference() const
    {
        qsizetype i = m_at;
        if (i < m_html.size() && m_html[i] == u'#')
            ++i;
        const qsizetype start = i;
        while (i < m_html.size() && i - start < 32 && m_html[i].isLetterOrNumber() &&
               m_html[i].unicode() < 128)
            ++i;
        return i > start && i < m_html.size() && m_html[i] == u';';
    }

    void markup()
    {
        const QStringView rest = m_html.mid(m_at);
        if (rest.startsWith(u"<!--")) {
            const qsizetype end = m_html.indexOf(u"-->", m_at + 4);
            m_at = end < 0 ? m_html.size() : end + 3;
            return;
        }
        const bool closing = rest.size() > 1 && rest[1] == u'/';
        const qsizetype nameStart = m_at + (closing ? 2 : 1);
        if (nameStart >= m_html.size() ||
            (!m_html[nameStart].isLetter() && m_html[nameStart] != u'!' &&
             m_html[nameStart] != u'?')) {
            m_out += QLatin1StringView("&lt;"); // a lone '<' is text
            ++m_at;
            --m_textLeft;
            return;
        }
        qsizetype i = nameStart;
        while (i < m_html.size() && isNameChar(m_html[i]))
            ++i;
        const QString name = m_html.sliced(nameStart, i - nameStart).toString().toLower();
        QString href;
        m_at = attributes(i, &href);
        if (name.isEmpty()) // <!DOCTYPE>, <?xml?>, <![CDATA[
            return;
        if (closing)
            endTag(name);
        else
            startTag(name, href);
    }

    // Reads the attributes up to the tag's end, keeping only href; answers
    // where the tag ends.
    qsizetype attributes(qsizetype i, QString* href) const
    {
        while (i < m_html.size() && m_html[i] != u'>') {
            const QChar c = m_html[i];
            if (c.isSpace() || c == u'/') {
                ++i;
                continue;
            }
            const qsizetype nameStart = i;
            while (i < m_html.size() && !m_html[i].isSpace() && m_html[i] != u'=' &&
                   m_html[i] != u'>' && m_html[i] != u'/')
                ++i;
            const QStringView attribute = m_html.sliced(nameStart, i - nameStart);
            if (i >= m_html.size() || m_html[i] != u'=')
                continue;
            ++i;
            QStringView value;
            if (i < m_html.size() && (m_html[i] == u'"' || m_html[i] == u'\'')) {
                const qsizetype end = m_html.indexOf(m_html[i], i + 1);
                const qsizetype stop = end < 0 ? m_html.size() : end;
                value = m_html.sliced(i + 1, stop - i - 1);
                i = std::min(stop + 1, m_html.size());
            } else {
                const qsizetype valueStart = i;
                while (i < m_html.size() && !m_html[i].isSpace() && m_html[i] != u'>')
                    ++i;
                value = m_html.sliced(valueStart, i - valueStart);
            }
            if (attribute.compare(QLatin1StringView("href"), Qt::CaseInsensitive) == 0)
                *href = decodeAttribute(value);
        }
        return std::min(i + 1, m_html.size());
    }

    void startTag(const QString& name, const QString& href)
    {
        if (isOneOf(name, kHidden)) {
            // Skipped to its end tag, or to the end when there is none.
            const qsizetype end =
                m_html.indexOf(QStringLiteral("</") + name, m_at, Qt::CaseInsensitive);
            m_at = end < 0 ? m_html.size() : end;
            return;
        }
        const Element* element = keptElement(name);
        if (!element) {
            if (isOneOf(name, kLineBreaking))
                lineBreak();
            else if (name == u"td" || name == u"th")
                m_out += u' ';
            return;
        }
        // What a browser closes by itself: a paragraph before a block, a list
        // item before the next, a link before another.
        if (element->block)
            closeOpen(u"p");
        if (name == u"li")
            closeOpen(u"li", {u"ul", u"ol"});
        if (name == u"a")
            closeOpen(u"a");
        if (m_elements >= kMostElements || (!element->isVoid && m_open.size() >= kDeepest))
            return;
        ++m_elements;
        if (name == u"a") {
            const QString address = webAddress(href);
            if (address.isEmpty()) {
                m_open.append(QStringLiteral("a"));
                m_out += QLatin1StringView("<a>");
                return;
            }
            m_out += QLatin1StringView("<a href=\"") + address.toHtmlEscaped() +
                     QLatin1StringView("\">");
        } else {
            m_out += u'<' + name + u'>';
        }
        if (!element->isVoid)
            m_open.append(name);
    }

    void endTag(const QString& name)
    {
        if (isOneOf(name, kLineBreaking)) {
            lineBreak();
            return;
        }
        const qsizetype at = m_open.lastIndexOf(name);
        if (at >= 0)
            closeDownTo(at);
    }

    void lineBreak()
    {
        if (!m_out.endsWith(QLatin1StringView("<br>")) && m_elements < kMostElements) {
            ++m_elements;
            m_out += QLatin1StringView("<br>");
        }
    }

    // Closes `name` and what is open inside it, unless one of `stops` is
    // open inside it (a list item of an outer list stays open).
    void closeOpen(QStringView name, std::initializer_list<QStringView> stops = {})
    {
        for (qsizetype i = m_open.size() - 1; i >= 0; --i) {
            if (m_open[i] == name) {
                closeDownTo(i);
                return;
            }
            if (std::find(stops.begin(), stops.end(), QStringView(m_open[i])) != stops.end())
                return;
        }
    }

    void closeDownTo(qsizetype depth)
    {
        while (m_open.size() > depth)
            m_out += QLatin1StringView("</") + m_open.takeLast() + u'>';
    }

    QStringView m_html;
    qsizetype m_at = 0;
    qsizetype m_textLeft = kLongestText;
    qsizetype m_elements = 0;
    QList<QString> m_open;
    QString m_out;
};

} // namespace

QString simpleHtml(QStringView html)
{
    return Simplifier(html).run();
}
