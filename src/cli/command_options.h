#pragma once

#include "gradient_style.h"

#include <QCommandLineOption>
#include <QString>
#include <optional>
#include <variant>

class QCommandLineParser;

// What the commands share: their usage errors, help, lengths and backgrounds.

// Says what was wrong with `command`'s arguments and how to get help; returns
// exitUsage.
int usageError(const char* command, const QString& message);

// Prints Qt's help text, headed by `synopsis` instead of the program's path.
void printCommandHelp(const QCommandLineParser& parser, const QString& synopsis);

// A length or ratio from the command line: a finite number, at least zero
// (or above zero when `positive`).
std::optional<double> parseNumber(const QString& text, bool positive);

// The -b value as a style, or the exit status once the reason is printed: a
// picture that cannot be read is a failure, anything else a usage error.
std::variant<GradientStyle, int> backgroundArgument(const char* command, const QString& text);

// The options of every command that frames something: -h, -b, -p and -r.
// `unit` is the lengths' value name ("POINTS" or "PIXELS").
struct FramingOptions {
    FramingOptions(const QString& unit, const QString& paddingHelp, const QString& radiusHelp);

    QString unit;
    QCommandLineOption help;
    QCommandLineOption background;
    QCommandLineOption padding;
    QCommandLineOption radius;
};

struct Framing {
    GradientStyle style;
    double padding = 0;
    double radius = 0;
};

// The values of those options, or the exit status once the reason is printed.
std::variant<Framing, int> readFraming(const QCommandLineParser& parser,
                                       const FramingOptions& options, const char* command);
