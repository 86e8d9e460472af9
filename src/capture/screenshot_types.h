#pragma once

// What a screenshot takes: the whole desktop, one window the user picks, or
// an area the user drags.
enum class ScreenshotTypes { full, window, area };
