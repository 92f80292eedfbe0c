// Relocation of the build prefix, differentially: the stream (fed in pieces of
// fuzzed sizes) and fixPaths() must both give what a plain reference makes of
// the whole data.
//
// Input: byte 0 old prefix length (1..32), byte 1 new prefix length
// (1..old, or 0 for an empty new prefix when byte 1 is 0xff), byte 2 flush
// size (1..256), byte 3 piece count (0..7), then the piece sizes (one byte
// each), the old prefix, the new prefix, and the data.
#include "engine/ZelManagerFixupStream.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QVector>

namespace {

bool endsPath(uchar c)
{
    return c < 0x20 || c == 0x7f || c == ' ';
}

bool isBlank(uchar c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// The rule, written as plainly as it reads.
QByteArray reference(QByteArray data, const QByteArray &oldPrefix, const QByteArray &newPrefix, int *count)
{
    *count = 0;
    if (newPrefix.isEmpty() || newPrefix.size() > oldPrefix.size())
        return data;
    int from = 0;
    for (;;) {
        const int at = data.indexOf(oldPrefix, from);
        if (at < 0)
            break;
        int end = at + oldPrefix.size();
        while (end < data.size() && !endsPath(uchar(data.at(end))))
            ++end;
        const QByteArray tail = data.mid(at + oldPrefix.size(), end - at - oldPrefix.size());
        const char filler = end < data.size() && isBlank(uchar(data.at(end))) ? ' ' : '\0';
        data.replace(at, end - at, newPrefix + tail + QByteArray(oldPrefix.size() - newPrefix.size(), filler));
        ++*count;
        from = at + newPrefix.size();
    }
    return data;
}

struct Input
{
    QByteArray oldPrefix;
    QByteArray newPrefix;
    int flushSize = 1;
    QVector<int> pieces;
    QByteArray data;
};

bool parse(const uint8_t *bytes, size_t size, Input *input)
{
    if (size < 4)
        return false;
    const int oldSize = bytes[0] % 32 + 1;
    const int newSize = bytes[1] == 0xff ? 0 : bytes[1] % oldSize + 1;
    input->flushSize = bytes[2] + 1;
    const int pieceCount = bytes[3] % 8;
    size_t at = 4;
    if (size < at + size_t(pieceCount + oldSize + newSize))
        return false;
    for (int i = 0; i < pieceCount; ++i)
        input->pieces.append(bytes[at++] + 1);
    if (input->pieces.isEmpty())
        input->pieces.append(int(size));
    input->oldPrefix = QByteArray(reinterpret_cast<const char *>(bytes + at), oldSize);
    at += size_t(oldSize);
    input->newPrefix = QByteArray(reinterpret_cast<const char *>(bytes + at), newSize);
    at += size_t(newSize);
    input->data = QByteArray(reinterpret_cast<const char *>(bytes + at), int(size - at));
    return true;
}

QByteArray streamed(const Input &input, bool enabled, int *count)
{
    QByteArray output;
    ZelManagerFixupStream stream(
        input.oldPrefix, input.newPrefix, enabled,
        [&output](const char *data, qint64 size) {
            output.append(data, int(size));
            return true;
        },
        input.flushSize);
    int at = 0;
    for (int piece = 0; at < input.data.size(); ++piece) {
        const int length = qMin(input.pieces.at(piece % input.pieces.size()), input.data.size() - at);
        FUZZ_CHECK(stream.write(input.data.constData() + at, length));
        at += length;
    }
    FUZZ_CHECK(stream.finish());
    *count = stream.count();
    return output;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputScope scope;
    Input input;
    if (!parse(data, size, &input))
        return 0;
    int expectedCount = 0;
    const QByteArray expected = reference(input.data, input.oldPrefix, input.newPrefix, &expectedCount);
    FUZZ_CHECK(expected.size() == input.data.size());

    QByteArray whole = input.data;
    const int wholeCount
        = ZelManagerFixupStream::fixPaths(whole.data(), whole.size(), input.oldPrefix, input.newPrefix);
    FUZZ_CHECK(whole == expected, QString::fromLatin1(whole.toHex()) + QLatin1Char(' ') + expected.toHex());
    FUZZ_CHECK(wholeCount == expectedCount);

    int streamCount = 0;
    const QByteArray relocated = streamed(input, true, &streamCount);
    FUZZ_CHECK(relocated == expected, QString::fromLatin1(relocated.toHex()) + QLatin1Char(' ') + expected.toHex());
    FUZZ_CHECK(streamCount == expectedCount);

    int unchangedCount = 0;
    FUZZ_CHECK(streamed(input, false, &unchangedCount) == input.data);
    FUZZ_CHECK(unchangedCount == 0);
    return 0;
}
