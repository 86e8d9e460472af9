#pragma once

#include <QString>

// The product's lines: one line each, UTF-8, flushed at once so they
// interleave correctly with anything else writing to the terminal.
void printLine(const QString& line);      // standard output
void printErrorLine(const QString& line); // standard error
