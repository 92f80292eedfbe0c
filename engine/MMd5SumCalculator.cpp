#include "engine/MMd5SumCalculator.h"

#include <QtEndian>
#include <cstring>

namespace {

inline quint32 rotateLeft(quint32 x, int n)
{
    return (x << n) | (x >> (32 - n));
}

// The four auxiliary functions, written in the forms that need the fewest
// operations; they give the same values as RFC 1321's F, G, H and I.
inline quint32 f(quint32 x, quint32 y, quint32 z)
{
    return z ^ (x & (y ^ z));
}
inline quint32 g(quint32 x, quint32 y, quint32 z)
{
    return y ^ (z & (x ^ y));
}
inline quint32 h(quint32 x, quint32 y, quint32 z)
{
    return x ^ y ^ z;
}
inline quint32 i(quint32 x, quint32 y, quint32 z)
{
    return y ^ (x | ~z);
}

#define MD5_STEP(fn, a, b, c, d, x, s, t)                                                                              \
    a += fn(b, c, d) + (x) + (t);                                                                                      \
    a = rotateLeft(a, s) + b;

} // namespace

MMd5SumCalculator::MMd5SumCalculator()
{
    reset();
}

void MMd5SumCalculator::reset()
{
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_count[0] = 0;
    m_count[1] = 0;
    std::memset(m_buffer, 0, sizeof(m_buffer));
}

void MMd5SumCalculator::addData(const QByteArray &data)
{
    addData(data.constData(), data.size());
}

void MMd5SumCalculator::addData(const char *data, qint64 size)
{
    if (size <= 0)
        return;
    const quint32 used = m_count[0] & 63;
    const quint32 low = m_count[0] + quint32(size);
    m_count[1] += quint32(quint64(size) >> 32) + (low < m_count[0] ? 1 : 0);
    m_count[0] = low;

    const uchar *input = reinterpret_cast<const uchar *>(data);
    if (used) {
        const qint64 room = 64 - used;
        if (size < room) {
            std::memcpy(m_buffer + used, input, size_t(size));
            return;
        }
        std::memcpy(m_buffer + used, input, size_t(room));
        transform(m_buffer, 1);
        input += room;
        size -= room;
    }
    // Whole blocks are transformed straight from the caller's memory.
    if (size >= 64) {
        transform(input, size / 64);
        input += size & ~qint64(63);
        size &= 63;
    }
    if (size)
        std::memcpy(m_buffer, input, size_t(size));
}

QString MMd5SumCalculator::calculateMd5Sum()
{
    const quint64 bits = ((quint64(m_count[1]) << 32) | m_count[0]) << 3;
    uchar padding[72] = { 0x80 };
    const quint32 used = m_count[0] & 63;
    const quint32 padLength = (used < 56) ? (56 - used) : (120 - used);
    addData(reinterpret_cast<const char *>(padding), padLength);
    uchar length[8];
    qToLittleEndian(bits, length);
    addData(reinterpret_cast<const char *>(length), 8);

    static const char digits[] = "0123456789abcdef";
    QString result(32, Qt::Uninitialized);
    QChar *out = result.data();
    for (int word = 0; word < 4; ++word) {
        for (int byte = 0; byte < 4; ++byte) {
            const uchar value = uchar(m_state[word] >> (8 * byte));
            *out++ = QLatin1Char(digits[value >> 4]);
            *out++ = QLatin1Char(digits[value & 15]);
        }
    }
    return result;
}

void MMd5SumCalculator::transform(const uchar *blocks, qint64 count)
{
    quint32 a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (; count > 0; --count, blocks += 64) {
        quint32 x[16];
        for (int n = 0; n < 16; ++n)
            x[n] = qFromLittleEndian<quint32>(blocks + 4 * n);
        const quint32 aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(f, a, b, c, d, x[0], 7, 0xd76aa478)
        MD5_STEP(f, d, a, b, c, x[1], 12, 0xe8c7b756)
        MD5_STEP(f, c, d, a, b, x[2], 17, 0x242070db)
        MD5_STEP(f, b, c, d, a, x[3], 22, 0xc1bdceee)
        MD5_STEP(f, a, b, c, d, x[4], 7, 0xf57c0faf)
        MD5_STEP(f, d, a, b, c, x[5], 12, 0x4787c62a)
        MD5_STEP(f, c, d, a, b, x[6], 17, 0xa8304613)
        MD5_STEP(f, b, c, d, a, x[7], 22, 0xfd469501)
        MD5_STEP(f, a, b, c, d, x[8], 7, 0x698098d8)
        MD5_STEP(f, d, a, b, c, x[9], 12, 0x8b44f7af)
        MD5_STEP(f, c, d, a, b, x[10], 17, 0xffff5bb1)
        MD5_STEP(f, b, c, d, a, x[11], 22, 0x895cd7be)
        MD5_STEP(f, a, b, c, d, x[12], 7, 0x6b901122)
        MD5_STEP(f, d, a, b, c, x[13], 12, 0xfd987193)
        MD5_STEP(f, c, d, a, b, x[14], 17, 0xa679438e)
        MD5_STEP(f, b, c, d, a, x[15], 22, 0x49b40821)

        MD5_STEP(g, a, b, c, d, x[1], 5, 0xf61e2562)
        MD5_STEP(g, d, a, b, c, x[6], 9, 0xc040b340)
        MD5_STEP(g, c, d, a, b, x[11], 14, 0x265e5a51)
        MD5_STEP(g, b, c, d, a, x[0], 20, 0xe9b6c7aa)
        MD5_STEP(g, a, b, c, d, x[5], 5, 0xd62f105d)
        MD5_STEP(g, d, a, b, c, x[10], 9, 0x02441453)
        MD5_STEP(g, c, d, a, b, x[15], 14, 0xd8a1e681)
        MD5_STEP(g, b, c, d, a, x[4], 20, 0xe7d3fbc8)
        MD5_STEP(g, a, b, c, d, x[9], 5, 0x21e1cde6)
        MD5_STEP(g, d, a, b, c, x[14], 9, 0xc33707d6)
        MD5_STEP(g, c, d, a, b, x[3], 14, 0xf4d50d87)
        MD5_STEP(g, b, c, d, a, x[8], 20, 0x455a14ed)
        MD5_STEP(g, a, b, c, d, x[13], 5, 0xa9e3e905)
        MD5_STEP(g, d, a, b, c, x[2], 9, 0xfcefa3f8)
        MD5_STEP(g, c, d, a, b, x[7], 14, 0x676f02d9)
        MD5_STEP(g, b, c, d, a, x[12], 20, 0x8d2a4c8a)

        MD5_STEP(h, a, b, c, d, x[5], 4, 0xfffa3942)
        MD5_STEP(h, d, a, b, c, x[8], 11, 0x8771f681)
        MD5_STEP(h, c, d, a, b, x[11], 16, 0x6d9d6122)
        MD5_STEP(h, b, c, d, a, x[14], 23, 0xfde5380c)
        MD5_STEP(h, a, b, c, d, x[1], 4, 0xa4beea44)
        MD5_STEP(h, d, a, b, c, x[4], 11, 0x4bdecfa9)
        MD5_STEP(h, c, d, a, b, x[7], 16, 0xf6bb4b60)
        MD5_STEP(h, b, c, d, a, x[10], 23, 0xbebfbc70)
        MD5_STEP(h, a, b, c, d, x[13], 4, 0x289b7ec6)
        MD5_STEP(h, d, a, b, c, x[0], 11, 0xeaa127fa)
        MD5_STEP(h, c, d, a, b, x[3], 16, 0xd4ef3085)
        MD5_STEP(h, b, c, d, a, x[6], 23, 0x04881d05)
        MD5_STEP(h, a, b, c, d, x[9], 4, 0xd9d4d039)
        MD5_STEP(h, d, a, b, c, x[12], 11, 0xe6db99e5)
        MD5_STEP(h, c, d, a, b, x[15], 16, 0x1fa27cf8)
        MD5_STEP(h, b, c, d, a, x[2], 23, 0xc4ac5665)

        MD5_STEP(i, a, b, c, d, x[0], 6, 0xf4292244)
        MD5_STEP(i, d, a, b, c, x[7], 10, 0x432aff97)
        MD5_STEP(i, c, d, a, b, x[14], 15, 0xab9423a7)
        MD5_STEP(i, b, c, d, a, x[5], 21, 0xfc93a039)
        MD5_STEP(i, a, b, c, d, x[12], 6, 0x655b59c3)
        MD5_STEP(i, d, a, b, c, x[3], 10, 0x8f0ccc92)
        MD5_STEP(i, c, d, a, b, x[10], 15, 0xffeff47d)
        MD5_STEP(i, b, c, d, a, x[1], 21, 0x85845dd1)
        MD5_STEP(i, a, b, c, d, x[8], 6, 0x6fa87e4f)
        MD5_STEP(i, d, a, b, c, x[15], 10, 0xfe2ce6e0)
        MD5_STEP(i, c, d, a, b, x[6], 15, 0xa3014314)
        MD5_STEP(i, b, c, d, a, x[13], 21, 0x4e0811a1)
        MD5_STEP(i, a, b, c, d, x[4], 6, 0xf7537e82)
        MD5_STEP(i, d, a, b, c, x[11], 10, 0xbd3af235)
        MD5_STEP(i, c, d, a, b, x[2], 15, 0x2ad7d2bb)
        MD5_STEP(i, b, c, d, a, x[9], 21, 0xeb86d391)

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    m_state[0] = a;
    m_state[1] = b;
    m_state[2] = c;
    m_state[3] = d;
}
