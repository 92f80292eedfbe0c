// The repository index read two ways: in batches (the byte-level scanner,
// with the XML stream reader taking over where it gives up) and as packages by
// the XML stream reader alone. Both must accept and refuse the same inputs,
// with the same message, and hand out the same packages. The scanner alone,
// reading in tiny blocks, must hand out what the XML stream reader hands out,
// and may only end well where the XML stream reader accepts.
#include "database/ZelManagerIndexBatch.h"
#include "database/ZelManagerIndexReader.h"
#include "database/ZelManagerIndexScanner.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QBuffer>

namespace {

using Records = QList<QByteArray>;

struct Reading
{
    Records records;
    bool complete = false;
    QString errorText;
};

// Every package of a batch spelled out in one text.
Records records(const ZelManagerIndexBatch &batch)
{
    Records list;
    const qint64 *items = batch.items.constData();
    const int count = batch.items.size();
    int at = 0;
    QByteArray record;
    auto text = [&]() {
        FUZZ_CHECK(at + 2 <= count);
        const qint64 offset = items[at];
        const qint64 size = items[at + 1];
        FUZZ_CHECK(offset >= 0 && size >= 0 && offset + size <= batch.text.size());
        record += QByteArray::number(size) + ':' + batch.text.mid(int(offset), int(size)) + '|';
        at += 2;
    };
    auto number = [&]() {
        FUZZ_CHECK(at < count);
        const qint64 value = items[at++];
        record += '#' + QByteArray::number(value) + '|';
        return value;
    };
    for (int package = 0; package < batch.packages; ++package) {
        record.clear();
        text();
        text();
        text();
        for (qint64 category = number(); category > 0; --category)
            text();
        for (qint64 file = number(); file > 0; --file) {
            text();
            text();
            number();
            text();
            for (qint64 dependency = number(); dependency > 0; --dependency) {
                text();
                text();
            }
        }
        list.append(record);
    }
    FUZZ_CHECK(at == count);
    return list;
}

Reading readByXmlStream(const QByteArray &data)
{
    ZelManagerIndexReader reader(data);
    ZelManagerIndexReader::Package package;
    ZelManagerIndexBatch batch;
    while (reader.readPackage(package)) {
        if (!package.name.isEmpty())
            batch.add(package);
    }
    return { records(batch), reader.atEnd(), reader.errorText() };
}

Reading readInBatches(const QByteArray &data)
{
    ZelManagerIndexReader reader(data);
    ZelManagerIndexBatch batch;
    while (reader.readPackage(batch)) { }
    return { records(batch), reader.atEnd(), reader.errorText() };
}

Reading scan(const QByteArray &data, int blockSize)
{
    QBuffer device;
    device.setData(data);
    device.open(QIODevice::ReadOnly);
    ZelManagerIndexScanner scanner(&device, blockSize);
    ZelManagerIndexBatch batch;
    ZelManagerIndexScanner::Result result;
    while ((result = scanner.readPackage(batch)) == ZelManagerIndexScanner::PackageRead) { }
    FUZZ_CHECK(batch.packages <= scanner.packagesRead());
    // Once it has stopped, it stays where it is.
    FUZZ_CHECK(scanner.readPackage(batch) == result);
    Reading reading;
    reading.records = records(batch);
    reading.complete = result == ZelManagerIndexScanner::Ended;
    return reading;
}

// Where neither refused, the packages are the same; where one refused, the
// packages both handed out before are. (The XML stream reader refuses badly
// encoded text as soon as it decodes the piece that holds it, which may be
// before the packages in front of it in that piece are handed out.)
void checkAgreement(const Reading &reading, const Reading &reference, const char *what)
{
    if (reading.complete && reference.complete) {
        FUZZ_CHECK(reading.records == reference.records, QString::fromLatin1(what));
        return;
    }
    const int common = qMin(reading.records.size(), reference.records.size());
    for (int i = 0; i < common; ++i)
        FUZZ_CHECK(reading.records.at(i) == reference.records.at(i),
            QStringLiteral("%1: package %2: %3 / %4")
                .arg(QString::fromLatin1(what))
                .arg(i)
                .arg(QString::fromUtf8(reading.records.at(i)), QString::fromUtf8(reference.records.at(i))));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv, false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputScope scope;
    const QByteArray index(reinterpret_cast<const char *>(data), int(size));
    const Reading reference = readByXmlStream(index);
    FUZZ_CHECK(reference.complete == reference.errorText.isEmpty());

    const Reading batches = readInBatches(index);
    FUZZ_CHECK(batches.complete == reference.complete, reference.errorText);
    FUZZ_CHECK(
        batches.errorText == reference.errorText, batches.errorText + QStringLiteral(" / ") + reference.errorText);
    checkAgreement(batches, reference, "batches");

    // Blocks of one byte, and of a size that varies with the input: every
    // token meets the end of the data read so far somewhere.
    for (const int blockSize : { 1, 2 + int(qHash(index) % 61) }) {
        const Reading scanned = scan(index, blockSize);
        FUZZ_CHECK(!scanned.complete || reference.complete, reference.errorText);
        checkAgreement(scanned, reference, "scanner");
    }
    return 0;
}
