#pragma once

#include "gradient_style.h"
#include "result.h"

#include <QString>

// The background named on the command line (-b/--background):
//   cool, beach, rose, nature, warm, dreamy     the presets by their titles
//   bluePurple, ocean, sunset, ...              or by their names
//   #RRGGBB or #RRGGBBAA                        a plain colour
//   COLOUR,COLOUR[,...]                         a gradient through the colours
//   image:PATH                                  a picture, stretched to fill
// Names are matched without regard to case. A picture that cannot be read
// fails with the loader's reason. Any other failure says what was wrong
// with the text, not what was expected: see backgroundOptionHelp().
Result<GradientStyle> parseBackgroundOption(const QString& text);

// What parseBackgroundOption accepts, in a few words, for --help and errors.
QString backgroundOptionHelp();
