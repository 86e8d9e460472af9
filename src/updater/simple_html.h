#pragma once

#include <QString>
#include <QStringView>

// HTML from outside (a feed's release notes) cut down to text with simple
// formatting, for a rich-text view to show. Kept: paragraphs and line breaks,
// headings, lists, bold, italic, underline, code, preformatted text, quotes,
// rules, and links to web pages (http and https, the address only). Other
// elements lose their tags and attributes but keep their text; scripts,
// styles and titles go altogether, and nothing that loads (pictures, style
// sheets, frames) survives. Nesting stays shallow and the text bounded, as
// Qt's layout slows down steeply with depth (twenty nested tables freeze it).
QString simpleHtml(QStringView html);
