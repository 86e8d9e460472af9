#pragma once

#include <QString>

// The product's lines: one line each, UTF-8, flushed at once so they
// interleave correctly with anything else writing to the terminal.
void printLine(const QString& line);      // standard output
void printErrorLine(const QString& line); // standard error

// `text` made safe for one line: control characters (a newline in a file name
// or an option's value) are shown as escapes such as \n and \x1b, so a
// line a user or a script reads is never split or recoloured by input.
QString oneLine(const QString& text);
