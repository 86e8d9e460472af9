#pragma once

#include "command_options.h"
#include "result.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

// How `quorvel compose` (and `quorvel capture -o`) frame a picture.
struct ComposeSettings : Framing {
    std::optional<double> scale; // pixels per point, instead of the picture's own
};

// `picture` placed on its background and written to `output` as PNG, which
// is replaced whole or not at all ("-": standard output). Returns the bytes written, or why nothing
// was.
Result<QByteArray> writeComposedPng(QImage picture, const ComposeSettings& settings,
                                    const QString& output);

// The line printed for each picture written.
QString savedLine(const QString& output);
