#pragma once

#include "result.h"

#include <QList>
#include <QSize>
#include <QString>

// The compositor's outputs as a Wayland client sees them: each one's pixels
// (wl_output's current mode) and points (xdg-output's logical size). Qt 6.4
// gives only a whole device pixel ratio (2 at a scale of 1.5); the two sizes
// give the real one.
//
// read() opens a connection of its own to the compositor and blocks until it
// has answered or `timeoutMs` has passed: run it off the GUI thread.
class WaylandOutputs {
public:
    struct Output {
        QString name; // as QScreen::name() has it, e.g. "HDMI-A-1"
        QSize pixels;
        QSize points;
        // Device pixels per point, in the 120ths desktops scale in; 0 when
        // either size is unknown.
        qreal scale() const;
    };

    // The outputs of the compositor named by WAYLAND_DISPLAY (and
    // XDG_RUNTIME_DIR); a failure when there is none or it does not answer.
    static Result<QList<Output>> read(int timeoutMs = 1000);
    // The scale of the output named `name`, or of every output when they all
    // agree; 0 when it cannot be told.
    static qreal scaleOf(const QList<Output>& outputs, const QString& name);
};
