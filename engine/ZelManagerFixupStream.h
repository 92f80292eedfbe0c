#ifndef ZELMANAGERFIXUPSTREAM_H
#define ZELMANAGERFIXUPSTREAM_H

#include <QByteArray>

#include <functional>

// Relocates the build prefix inside file data: every occurrence of the old
// prefix becomes the new one, in place, the data keeping its size. The rest
// of each path (up to a control byte, a space or the end of the data; bytes
// of 0x80 and above belong to the path) follows the new prefix directly, and
// the bytes it leaves free become spaces when the path ended at a TAB, LF, CR
// or space, else zero bytes. So a relocated path keeps its line layout in
// text files and stays zero-terminated in binaries. Nothing is relocated when
// the new prefix is empty or longer than the old one.
//
// fixPaths() works on data held whole. A stream takes the data piece by
// piece and hands settled bytes to its sink, holding back only what a
// relocation may still change (the last bytes that could begin a prefix, or
// a found prefix whose path has not ended yet); its output is exactly what
// fixPaths() makes of the whole data.
class ZelManagerFixupStream
{
public:
    // Receives settled bytes in order; returns false to give up.
    using Sink = std::function<bool(const char *data, qint64 size)>;

    // Settled bytes go to the sink in pieces of about this size: large enough
    // for few system calls, small enough to stay in the processor's caches.
    enum { DefaultFlushSize = 1024 * 1024 };

    // With enabled false the data passes through unchanged.
    ZelManagerFixupStream(const QByteArray &oldPrefix, const QByteArray &newPrefix, bool enabled, const Sink &sink,
        int flushSize = DefaultFlushSize);

    // False once the sink has failed.
    bool write(const char *data, qint64 size);
    // Hands over the rest: the end of the data ends an open path.
    bool finish();
    // Occurrences relocated so far.
    int count() const { return m_count; }
    bool isRelocating() const { return m_enabled; }

    // The whole data at once; returns the number of occurrences relocated.
    static int fixPaths(char *data, qint64 size, const QByteArray &oldPrefix, const QByteArray &newPrefix);
    static bool canRelocate(const QByteArray &oldPrefix, const QByteArray &newPrefix);

private:
    bool process(bool atEnd);

    QByteArray m_old;
    QByteArray m_new;
    bool m_enabled;
    Sink m_sink;
    int m_flushSize;
    QByteArray m_buffer;
    qint64 m_scanFrom = 0; // where the next prefix may begin
    qint64 m_pathSearched = 0; // the open path at m_scanFrom has no end before this
    int m_count = 0;
    bool m_failed = false;
};

#endif // ZELMANAGERFIXUPSTREAM_H
