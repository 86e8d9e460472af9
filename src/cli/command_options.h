#pragma once

#include "gradient_style.h"

#include <QCommandLineOption>
#include <QString>
#include <QStringList>
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

// Parses `arguments` (those after the command's word) into `parser`, which
// holds the command's options. Prints the help, headed "Usage: COMMAND
// `synopsis`", or a usage error, and returns the exit status then; nullopt
// when the command is to go on, with at least one positional argument.
std::optional<int> parseCommandLine(QCommandLineParser& parser, const FramingOptions& options,
                                    const char* command, const QStringList& arguments,
                                    const QString& synopsis);

// A usage error when `output` is not named for what the command writes, as in
// "-o 'shot.jpg': quorvel writes PNG pictures; name the output .png".
// `extensions` are lower case, with the dot; case does not matter.
std::optional<int> checkOutputName(const char* command, const QString& output,
                                   const QString& writes, const QStringList& extensions);

// Why an output is refused when it is an input under another name (or the
// same one): writing it would replace the original before it is read.
QString sameFileReason(const QString& output);

// The values of those options, or the exit status once the reason is printed.
std::variant<Framing, int> readFraming(const QCommandLineParser& parser,
                                       const FramingOptions& options, const char* command);
