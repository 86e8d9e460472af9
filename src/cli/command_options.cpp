#include "command_options.h"

#include "background_option.h"
#include "cli.h"
#include "console.h"

#include <QCommandLineParser>
#include <cmath>

int usageError(const char* command, const QString& message)
{
    printErrorLine(QStringLiteral("%1: %2").arg(QLatin1String(command), message));
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
        printErrorLine(QStringLiteral("quorvel: ") + style.error());
        return exitFailure;
    }
    return usageError(command, style.error());
}
