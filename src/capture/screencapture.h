#pragma once

#include "capture_backend.h"
#include "screenshot_types.h"

#include <QImage>
#include <QObject>
#include <QUrl>

// The picture the editor shows, and how it got there: a screenshot taken
// through the session's capture backend (which goes by way of the clipboard,
// as a screenshot taken to the clipboard would), the clipboard's own picture,
// or a picture file.
//
// Every property announces every assignment, even of the same value, so a
// view bound to it always redraws after an action. Nothing here touches
// isRecording, outputURL or captureType; the main window owns those.
class Screencapture : public QObject {
    Q_OBJECT
    Q_PROPERTY(QImage image READ image WRITE setImage NOTIFY imageChanged)
    Q_PROPERTY(bool isRecording READ isRecording WRITE setIsRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(QUrl outputURL READ outputURL WRITE setOutputURL NOTIFY outputURLChanged)
    Q_PROPERTY(
        ScreenshotTypes captureType READ captureType WRITE setCaptureType NOTIFY captureTypeChanged)

public:
    // `backend` must outlive this object.
    explicit Screencapture(CaptureBackend& backend, QObject* parent = nullptr);

    // A null QImage when there is no picture yet.
    QImage image() const { return m_image; }
    void setImage(const QImage& image);
    bool isRecording() const { return m_isRecording; }
    void setIsRecording(bool recording);
    QUrl outputURL() const { return m_outputURL; }
    void setOutputURL(const QUrl& url);
    ScreenshotTypes captureType() const { return m_captureType; }
    void setCaptureType(ScreenshotTypes type);

    // Lets the user take a screenshot of `kind`. Returns at once; the backend
    // answers later, from the event loop, and then, in this order:
    //  - a capture lands on the clipboard and becomes `image` (imageChanged);
    //  - a cancelled one leaves the clipboard alone, so whatever picture it
    //    holds becomes `image` (nothing changes when it holds none);
    //  - a failure prints "Failed to take screenshot: <reason>" and changes
    //    nothing;
    // and last screenshotFinished(), once per screenshot, whatever the end.
    // isTakingScreenshot() is true from this call until just before
    // screenshotFinished(), so a slot on it may take the next one. A call
    // while one is being taken (a shortcut pressed twice, a tray click) is
    // ignored and gets no screenshotFinished() of its own.
    void takeScreenshot(ScreenshotTypes kind);
    bool isTakingScreenshot() const { return m_capturing; }
    // Takes the clipboard's picture, if it holds one; otherwise does nothing.
    void loadImageFromPasteboard();
    // Takes the picture in a local file; prints
    // "Failed to load image from URL: <url>" and changes nothing if it can't.
    void loadImage(const QUrl& url);
    // That line, for whoever reads the file some other way.
    static QString loadFailureLine(const QUrl& url);

Q_SIGNALS:
    void imageChanged();
    void isRecordingChanged();
    void outputURLChanged();
    void captureTypeChanged();
    // The backend's answer to takeScreenshot() has come, before anything is
    // done with it (a cancelled capture may still wait for the clipboard).
    void screenshotAnswered();
    // The end of takeScreenshot(), after its effects; see there.
    void screenshotFinished();

private:
    void onCaptured(const QImage& picture);
    void onCancelled();
    void onFailed(const QString& reason);
    void finishScreenshot();
    // Sets `image` to the clipboard's picture; false when it holds none.
    bool takeClipboardPicture();

    CaptureBackend& m_backend;
    QImage m_image;
    bool m_isRecording = false;
    QUrl m_outputURL;
    ScreenshotTypes m_captureType = ScreenshotTypes::full;
    // The last capture as the backend gave it. The clipboard keeps pixels but
    // not always the device pixel ratio (X11 passes a PNG), so a clipboard
    // picture with exactly these pixels gets this capture's ratio back.
    QImage m_lastCapture;
    bool m_capturing = false;
};
