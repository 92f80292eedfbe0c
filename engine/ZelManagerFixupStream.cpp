#include "engine/ZelManagerFixupStream.h"

#include <cstring>

namespace {

bool endsPath(uchar c)
{
    return c < 0x20 || c == 0x7f || c == ' ';
}

bool isBlank(uchar c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

qint64 find(const char *data, qint64 size, qint64 from, const QByteArray &needle)
{
    if (size - from < needle.size())
        return -1;
    const void *hit = memmem(data + from, size_t(size - from), needle.constData(), size_t(needle.size()));
    return hit ? static_cast<const char *>(hit) - data : -1;
}

qint64 pathEnd(const char *data, qint64 size, qint64 from)
{
    while (from < size && !endsPath(uchar(data[from])))
        ++from;
    return from;
}

// One occurrence at offset at whose path ends at end (the first byte that
// is not part of it, or size).
void relocate(char *data, qint64 size, qint64 at, qint64 end, const QByteArray &oldPrefix, const QByteArray &newPrefix)
{
    const qint64 gap = oldPrefix.size() - newPrefix.size();
    const qint64 tailStart = at + oldPrefix.size();
    std::memcpy(data + at, newPrefix.constData(), size_t(newPrefix.size()));
    std::memmove(data + at + newPrefix.size(), data + tailStart, size_t(end - tailStart));
    const char filler = end < size && isBlank(uchar(data[end])) ? ' ' : '\0';
    std::memset(data + end - gap, filler, size_t(gap));
}

} // namespace

ZelManagerFixupStream::ZelManagerFixupStream(
    const QByteArray &oldPrefix, const QByteArray &newPrefix, bool enabled, const Sink &sink, int flushSize)
    : m_old(oldPrefix)
    , m_new(newPrefix)
    , m_enabled(enabled && canRelocate(oldPrefix, newPrefix))
    , m_sink(sink)
    , m_flushSize(flushSize)
{
}

bool ZelManagerFixupStream::canRelocate(const QByteArray &oldPrefix, const QByteArray &newPrefix)
{
    return !newPrefix.isEmpty() && newPrefix.size() <= oldPrefix.size();
}

int ZelManagerFixupStream::fixPaths(char *data, qint64 size, const QByteArray &oldPrefix, const QByteArray &newPrefix)
{
    if (!canRelocate(oldPrefix, newPrefix))
        return 0;
    int count = 0;
    for (qint64 at = find(data, size, 0, oldPrefix); at >= 0; at = find(data, size, at + newPrefix.size(), oldPrefix)) {
        relocate(data, size, at, pathEnd(data, size, at + oldPrefix.size()), oldPrefix, newPrefix);
        ++count;
    }
    return count;
}

bool ZelManagerFixupStream::write(const char *data, qint64 size)
{
    if (m_failed)
        return false;
    if (!m_enabled && m_buffer.isEmpty() && size >= m_flushSize) {
        m_failed = !m_sink(data, size);
        return !m_failed;
    }
    m_buffer.append(data, int(size));
    return m_buffer.size() < m_flushSize || process(false);
}

bool ZelManagerFixupStream::finish()
{
    return !m_failed && process(true);
}

// Relocates what can be relocated now and hands over every byte before the
// first one that may still change.
bool ZelManagerFixupStream::process(bool atEnd)
{
    char *data = m_buffer.data();
    const qint64 size = m_buffer.size();
    qint64 settled = size;
    while (m_enabled) {
        const qint64 at = find(data, size, m_scanFrom, m_old);
        if (at < 0) {
            if (!atEnd)
                settled = qMax(m_scanFrom, size - (m_old.size() - 1));
            break;
        }
        // A path still open at the end of the last piece was searched up to there.
        const qint64 end = pathEnd(data, size, qMax(at + m_old.size(), at == m_scanFrom ? m_pathSearched : 0));
        if (end == size && !atEnd) {
            settled = at; // the path may go on in the next piece
            m_scanFrom = at;
            m_pathSearched = size;
            break;
        }
        relocate(data, size, at, end, m_old, m_new);
        ++m_count;
        m_scanFrom = at + m_new.size();
        m_pathSearched = 0;
    }
    if (settled > 0 && !m_sink(data, settled)) {
        m_failed = true;
        return false;
    }
    m_buffer.remove(0, int(settled));
    m_scanFrom = qMax<qint64>(0, m_scanFrom - settled);
    m_pathSearched = qMax<qint64>(0, m_pathSearched - settled);
    return true;
}
