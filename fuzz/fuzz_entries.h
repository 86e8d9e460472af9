#pragma once

#include <cstddef>
#include <cstdint>

// What each fuzz target does with one input. libFuzzer calls these through
// libfuzzer_target.cpp (built with clang and the sanitizers); the test suite
// replays the kept regression inputs through the same functions with the
// product's own build. Each returns normally or aborts with a line saying
// which promise the input broke; a crash is a finding either way.

// The bytes as a picture file, read by loadImage() from a QBuffer.
void readPictureBytes(const uint8_t* data, size_t size);

// The bytes as a movie file, read through a custom AVIOContext and decoded
// the way MovieSource reads and decodes a file.
void readMovieBytes(const uint8_t* data, size_t size);

// The bytes (up to the first NUL) as a command-line value: a -b style and a
// number; then, split at NUL bytes, as a whole compose command line.
void parseOptionBytes(const uint8_t* data, size_t size);

// Stops the run with `what` when `holds` is false: a broken promise counts
// as much as a crash.
void expect(bool holds, const char* what);
