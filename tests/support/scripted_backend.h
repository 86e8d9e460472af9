#pragma once

#include "capture_backend.h"

#include <QImage>
#include <QTimer>
#include <QVariantList>

// Stands in for the desktop's screenshot tool: answers each capture, after
// `answerAfterMs`, with the next scripted answer: a picture (captured), a
// reason (failed) or nothing (cancelled).
struct ScriptedBackend : CaptureBackend {
    QVariantList answers;
    QList<ScreenshotTypes> asked;
    int answerAfterMs = 0;

    QString name() const override { return QStringLiteral("scripted"); }
    QList<ScreenshotTypes> supportedKinds() const override
    {
        return {ScreenshotTypes::window, ScreenshotTypes::area};
    }
    void capture(ScreenshotTypes kind) override
    {
        asked.append(kind);
        QTimer::singleShot(answerAfterMs, this, [this, a = answers.takeFirst()] {
            !a.isValid()                       ? Q_EMIT cancelled()
            : a.typeId() == QMetaType::QString ? Q_EMIT failed(a.toString())
                                               : Q_EMIT captured(a.value<QImage>());
        });
    }
};
