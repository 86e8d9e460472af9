#include "screen_recorder.h"

ScreenRecorder::ScreenRecorder(QObject* parent)
    : QObject(parent), m_streamOutput(new StreamOutput(this))
{
}

void ScreenRecorder::setShowsCursor(bool shows)
{
    m_showsCursor = shows;
    Q_EMIT showsCursorChanged();
}

void ScreenRecorder::setCapturesAudio(bool captures)
{
    m_capturesAudio = captures;
    Q_EMIT capturesAudioChanged();
}

void ScreenRecorder::setIsRecording(bool recording)
{
    m_isRecording = recording;
    Q_EMIT isRecordingChanged();
}

void ScreenRecorder::setLastRecordingURL(const QUrl& url)
{
    m_lastRecordingURL = url;
    Q_EMIT lastRecordingURLChanged();
}

void ScreenRecorder::setStream(std::optional<ScreenshotTypes> contentFilter, const QUrl& output)
{
    m_contentFilter = contentFilter;
    m_streamOutput->setUrl(output);
}
