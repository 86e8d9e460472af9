#include "byte_reader.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr size_t kBlockBytes = 256 * 1024;
}

ByteReader::ByteReader(QIODevice& device) : m_device(device), m_size(device.size())
{
    if (!m_device.seek(0))
        fail();
}

void ByteReader::fail()
{
    m_error = m_device.errorString();
    if (m_error.isEmpty())
        m_error = QStringLiteral("the file could not be read");
}

bool ByteReader::refill()
{
    if (failed())
        return false;
    m_blockStart += qint64(m_filled);
    m_at = 0;
    m_filled = 0;
    if (m_blockStart >= m_size)
        return false;
    if (m_block.empty())
        m_block.resize(kBlockBytes);
    const qint64 got =
        m_device.read(reinterpret_cast<char*>(m_block.data()), qint64(m_block.size()));
    if (got < 0) {
        fail();
        return false;
    }
    m_filled = size_t(got);
    return got > 0;
}

bool ByteReader::read(void* out, qint64 count)
{
    auto* to = static_cast<uchar*>(out);
    while (count > 0) {
        if (m_at == m_filled && !refill())
            return false;
        const size_t n = std::min(size_t(count), m_filled - m_at);
        std::memcpy(to, m_block.data() + m_at, n);
        to += n;
        m_at += n;
        count -= qint64(n);
    }
    return true;
}

bool ByteReader::skip(qint64 count)
{
    return count >= 0 && count <= m_size - position() && seek(position() + count);
}

bool ByteReader::seek(qint64 target)
{
    if (failed() || target < 0 || target > m_size)
        return false;
    if (target >= m_blockStart && target <= m_blockStart + qint64(m_filled)) {
        m_at = size_t(target - m_blockStart);
        return true;
    }
    if (!m_device.seek(target)) {
        fail();
        return false;
    }
    m_blockStart = target;
    m_at = 0;
    m_filled = 0;
    return true;
}

int ByteReader::next()
{
    if (m_at == m_filled && !refill())
        return -1;
    return m_block[m_at++];
}

bool ByteReader::skipPast(uchar value)
{
    for (;;) {
        if (m_at == m_filled && !refill())
            return false;
        const uchar* from = m_block.data() + m_at;
        const auto* found = static_cast<const uchar*>(std::memchr(from, value, m_filled - m_at));
        if (found) {
            m_at += size_t(found - from) + 1;
            return true;
        }
        m_at = m_filled;
    }
}
