#include "command_options.h"

#include "background_option.h"
#include "exit_status.h"
#include "console.h"

#include <QCommandLineParser>
#include <cmath>

int usageError(const char* command, const QString& message)
{
    printErrorLine(oneLine(QStringLiteral("%1: %2").arg(QLatin1String(command), message)));
    printErrorLine(QStringLiteral("Try '%1 --help'.").arg(QLatin1String(command)));
    return exitUsage;
}

void printCommandHelp(const QCommandLineParser& parser, const QString& synopsis)
{
    // Qt names the program by its path; name the command instead.
    QString text = parser.helpText().trimmed();
    text.replace(0, text.indexOf(QLatin1Char('\n')), synopsis);
    printLine(text);
}

std::optional<double> parseNumber(const QString& text, bool positive)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0 || (positive && value == 0))
        return std::nullopt;
    return value;
}

std::variant<GradientStyle, int> backgroundArgument(const char* command, const QString& text)
{
    Result<GradientStyle> style = parseBackgroundOption(text);
    if (style.ok())
        return std::move(style).value();
    if (text.startsWith(QLatin1String("image:")) && text.size() > 6) {
        printErrorLine(oneLine(QStringLiteral("quorvel: ") + style.error()));
        return exitFailure;
    }
    return usageError(command, QStringLiteral("-b '%1': expected %2; %3")
                                   .arg(text, backgroundOptionHelp(), style.error()));
}

FramingOptions::FramingOptions(const QString& unit, const QString& paddingHelp,
                               const QString& radiusHelp)
    : unit(unit),
      help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")),
      background({QStringLiteral("b"), QStringLiteral("background")},
                 QStringLiteral("The background: %1. Default: cool.").arg(backgroundOptionHelp()),
                 QStringLiteral("STYLE"), QStringLiteral("cool")),
      padding({QStringLiteral("p"), QStringLiteral("padding")}, paddingHelp, unit,
              QStringLiteral("40")),
      radius({QStringLiteral("r"), QStringLiteral("radius")}, radiusHelp, unit, QStringLiteral("0"))
{
}

std::variant<Framing, int> readFraming(const QCommandLineParser& parser,
                                       const FramingOptions& options, const char* command)
{
    const QString unit = options.unit.toLower();
    const auto padding = parseNumber(parser.value(options.padding), false);
    if (!padding)
        return usageError(command,
                          QStringLiteral("--padding needs a number of %1, 0 or more").arg(unit));
    const auto radius = parseNumber(parser.value(options.radius), false);
    if (!radius)
        return usageError(command,
                          QStringLiteral("--radius needs a number of %1, 0 or more").arg(unit));
    auto style = backgroundArgument(command, parser.value(options.background));
    if (const int* status = std::get_if<int>(&style))
        return *status;
    return Framing{std::get<GradientStyle>(std::move(style)), *padding, *radius};
}

std::optional<int> parseCommandLine(QCommandLineParser& parser, const FramingOptions& options,
                                    const char* command, const QStringList& arguments,
                                    const QString& synopsis)
{
    if (!parser.parse(QStringList{QLatin1String(command)} + arguments))
        return usageError(command, parser.errorText());
    if (parser.isSet(options.help)) {
        printCommandHelp(parser,
                         QStringLiteral("Usage: %1 %2").arg(QLatin1String(command), synopsis));
        return exitSuccess;
    }
    if (parser.positionalArguments().isEmpty())
        return usageError(command, QStringLiteral("no INPUT given"));
    return std::nullopt;
}

std::optional<int> checkOutputName(const char* command, const QString& output,
                                   const QString& writes, const QStringList& extensions)
{
    for (const QString& extension : extensions) {
        if (output.endsWith(extension, Qt::CaseInsensitive) && output.size() > extension.size())
            return std::nullopt;
    }
    return usageError(command, QStringLiteral("-o '%1': quorvel writes %2; name the output %3")
                                   .arg(output, writes, extensions.join(QStringLiteral(" or "))));
}

QString sameFileReason(const QString& output)
{
    return QStringLiteral("its output %1 is the input itself; name another file, or the original "
                          "would be replaced")
        .arg(output);
}
