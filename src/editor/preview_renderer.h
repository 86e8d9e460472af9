#pragma once

#include "gradient_style.h"

#include <QImage>
#include <vector>

// The pixels composeWithBackground() gives `picture` with `padding`: the
// padding is rounded to whole pixels of the picture.
QSize composedPixelSize(const QImage& picture, double padding);

// The composed picture at the size the editor shows it, fast enough to be
// made again on every slider step.
//
// Composing a 5K screenshot at full size and scaling it down takes far
// longer than a frame. So the screenshot is reduced once, smoothly, to
// about the pixels the preview shows, and that copy is composed instead.
// The copy's device pixel ratio is set so that it still measures the
// screenshot's size in points: the compositor's padding and radius, being in
// points, then land exactly where they land in the export, only at a lower
// resolution. The copy is never larger than the screenshot; a screenshot
// smaller than the preview is composed as it is and enlarged when painted.
//
// The canvas is reused from one step to the next, even when a padding step
// changes its size: it lives in a buffer that only grows, since allocating
// (and faulting in) megabytes anew costs more than composing them.
class PreviewRenderer {
public:
    // The composed picture for these values, its pixels detail enough for
    // showing the screenshot at `pixelsPerPoint` device pixels per point of
    // the screenshot (a preview shows the composed picture scaled, so this
    // is the preview's scale times its device pixel ratio).
    //
    // The picture's pixels stay the renderer's: use it before the next
    // compose() or clear(), and copy() it to keep it longer.
    const QImage& compose(const QImage& screenshot, double pixelsPerPoint,
                          const GradientStyle& style, double padding, double cornerRadius);

    // Lets go of the copy and the canvas.
    void clear();

    // The screenshot copy the last compose() used; for tests and benchmarks.
    const QImage& source() const { return m_reduced.isNull() ? m_screenshot : m_reduced; }

private:
    bool needsNewCopy(const QImage& screenshot, double reduction) const;
    // Points the canvas at the buffer, sized as the compositor will want it.
    void prepareCanvas(double padding);

    QImage m_screenshot; // shared with the model, never copied
    QImage m_reduced;    // null when the screenshot itself is composed
    double m_reduction = 0;
    std::vector<quint32> m_pixels;
    QImage m_canvas; // over m_pixels
};
