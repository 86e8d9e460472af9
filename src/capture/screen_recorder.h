#pragma once

#include "screenshot_types.h"
#include "stream_output.h"

#include <QObject>
#include <QUrl>
#include <optional>

// The screen recorder's state. The recording is made by a recorder process
// that the app's RecordingFlow starts and follows; it sets isRecording, and
// recordings take showsCursor and capturesAudio from the model they are made
// for. The movie an editor shows, chosen or recorded, is lastRecordingURL.
// Every property announces every assignment, even of the same value.
class ScreenRecorder : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showsCursor READ showsCursor WRITE setShowsCursor NOTIFY showsCursorChanged)
    Q_PROPERTY(
        bool capturesAudio READ capturesAudio WRITE setCapturesAudio NOTIFY capturesAudioChanged)
    Q_PROPERTY(bool isRecording READ isRecording WRITE setIsRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(QUrl lastRecordingURL READ lastRecordingURL WRITE setLastRecordingURL NOTIFY
                   lastRecordingURLChanged)

public:
    explicit ScreenRecorder(QObject* parent = nullptr);

    bool showsCursor() const { return m_showsCursor; }
    void setShowsCursor(bool shows);
    bool capturesAudio() const { return m_capturesAudio; }
    void setCapturesAudio(bool captures);
    bool isRecording() const { return m_isRecording; }
    void setIsRecording(bool recording);
    QUrl lastRecordingURL() const { return m_lastRecordingURL; }
    void setLastRecordingURL(const QUrl& url);

    // What the recording under way shows (an area, a window or the screen);
    // none while nothing is recorded, or for another process's recording.
    std::optional<ScreenshotTypes> contentFilter() const { return m_contentFilter; }
    // Never null; owned by the recorder.
    StreamOutput* streamOutput() const { return m_streamOutput; }
    // Sets both as a recording starts (kind and file) or ends (none, empty).
    void setStream(std::optional<ScreenshotTypes> contentFilter, const QUrl& output);

Q_SIGNALS:
    void showsCursorChanged();
    void capturesAudioChanged();
    void isRecordingChanged();
    void lastRecordingURLChanged();

private:
    bool m_showsCursor = true;
    bool m_capturesAudio = true;
    bool m_isRecording = false;
    QUrl m_lastRecordingURL;
    std::optional<ScreenshotTypes> m_contentFilter;
    StreamOutput* m_streamOutput;
};
