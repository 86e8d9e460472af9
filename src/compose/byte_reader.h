#pragma once

#include <QIODevice>
#include <QString>
#include <vector>

// Reads a file front to back in large blocks, for checking a picture's
// structure before it is decoded. Walking a JPEG's entropy data one
// QIODevice::getChar() at a time would cost more than decoding it; this
// buffers a quarter of a megabyte and finds markers with memchr.
//
// Every read stops at the end of the data: a short read, a skip past the end
// or a seek beyond it returns false, which the structure checks take as "the
// file is cut short". A device error (a failed read or seek) is kept in
// errorString(), and every read after it fails.
class ByteReader {
public:
    // Reads `device` from its start; it must be open and seekable.
    explicit ByteReader(QIODevice& device);

    qint64 size() const { return m_size; }
    qint64 position() const { return m_blockStart + qint64(m_at); }
    bool atEnd() const { return position() >= m_size; }

    // Copies the next `count` bytes to `out`.
    bool read(void* out, qint64 count);
    bool skip(qint64 count);
    bool seek(qint64 position);
    // The next byte, or -1 at the end of the data.
    int next();
    // Moves to just past the next byte equal to `value`.
    bool skipPast(uchar value);

    bool failed() const { return !m_error.isEmpty(); }
    const QString& errorString() const { return m_error; }

private:
    bool refill();
    // Keeps the device's reason, so the check fails with it.
    void fail();

    QIODevice& m_device;
    qint64 m_size = 0;
    std::vector<uchar> m_block;
    size_t m_filled = 0;
    size_t m_at = 0;
    qint64 m_blockStart = 0;
    QString m_error;
};
