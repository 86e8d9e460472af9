#pragma once

#include <QObject>
#include <QUrl>

// Where the recording under way is written: the movie file that the recorder
// process makes. Empty while nothing is recorded, and for a recording that
// another process (a `quorvel record -o` in a terminal) makes.
class StreamOutput : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    QUrl url() const { return m_url; }
    void setUrl(const QUrl& url) { m_url = url; }

private:
    QUrl m_url;
};
