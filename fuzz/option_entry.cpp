#include "background_option.h"
#include "background_painting.h"
#include "command_options.h"
#include "fuzz_entries.h"
#include "image_compositor.h"
#include "native_file.h"

#include <QCommandLineParser>
#include <QPainter>
#include <cmath>
#include <string>

namespace {

// "image:PATH" reads a file; the picture loader has its own target, and a
// path such as /dev/stdin would only wait.
bool namesFile(const QString& text)
{
    return text.contains(QLatin1String("image:"), Qt::CaseInsensitive);
}

// The reason may quote the value, line breaks and all; it adds none.
void checkOneLine(const QString& reason, const QString& value)
{
    expect(!reason.trimmed().isEmpty(), "a refusal without a reason");
    expect(reason.count(QLatin1Char('\n')) <= value.count(QLatin1Char('\n')),
           "a reason on more than one line");
}

// A style the parser accepted is drawn on every surface and composed.
void drawStyle(const GradientStyle& style)
{
    QImage area(7, 5, QImage::Format_ARGB32_Premultiplied);
    for (const auto surface :
         {BackgroundSurface::picture, BackgroundSurface::screen, BackgroundSurface::movie}) {
        area.fill(Qt::transparent);
        QPainter painter(&area);
        paintBackground(painter, QRectF(area.rect()), style, surface);
    }
    QImage picture(3, 2, QImage::Format_RGB32);
    picture.fill(Qt::white);
    const QImage composed = composeWithBackground(picture, style, 2, 1);
    expect(composed.size() == QSize(7, 6), "a composed canvas of the wrong size");
}

void parseValue(const QString& value)
{
    if (const auto number = parseNumber(value, false))
        expect(std::isfinite(*number) && *number >= 0, "a length that is negative or not finite");
    if (const auto ratio = parseNumber(value, true))
        expect(std::isfinite(*ratio) && *ratio > 0, "a ratio that is not above 0");
    if (namesFile(value))
        return;
    const Result<GradientStyle> style = parseBackgroundOption(value);
    if (style.ok())
        drawStyle(style.value());
    else
        checkOneLine(style.error(), value);
}

// The arguments as `quorvel compose` reads its framing options.
void parseCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    const FramingOptions framing(QStringLiteral("POINTS"), QStringLiteral("Padding."),
                                 QStringLiteral("Radius."));
    parser.addOptions({framing.help, framing.background, framing.padding, framing.radius});
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("Pictures."),
                                 QStringLiteral("INPUT..."));
    if (parseCommandLine(parser, framing, "compose", arguments, QStringLiteral("INPUT...")))
        return;
    auto framed = readFraming(parser, framing, "compose");
    const Framing* values = std::get_if<Framing>(&framed);
    if (!values)
        return;
    expect(std::isfinite(values->padding) && std::isfinite(values->radius),
           "a padding or radius that is not finite");
    // A padding far beyond any canvas must be refused without drawing; small
    // ones are drawn. (The ones between only cost the run memory.)
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::black);
    if (values->padding <= 8) {
        expect(!composeWithBackground(picture, values->style, values->padding, values->radius)
                    .isNull(),
               "a small canvas not drawn");
    } else if (values->padding >= 1e6) {
        expect(
            composeWithBackground(picture, values->style, values->padding, values->radius).isNull(),
            "a canvas beyond the limit drawn");
    }
}

} // namespace

void parseOptionBytes(const uint8_t* data, size_t size)
{
    // Arguments reach the program as NUL-ended bytes.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    parseValue(argumentText(bytes.c_str()));

    QStringList arguments;
    for (size_t start = 0; start <= bytes.size();) {
        const size_t end = std::min(bytes.find('\0', start), bytes.size());
        arguments.append(argumentText(bytes.c_str() + start));
        start = end + 1;
    }
    for (const QString& argument : arguments)
        if (namesFile(argument))
            return;
    parseCommand(arguments);
}
