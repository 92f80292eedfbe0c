// The repository index ("packages.xml"): the reader alone, then the import
// into a repository file. The import must succeed exactly when the reader
// reads the whole index, and then hold one "infos" row per named package.
#include "database/ZelManagerIndexImport.h"
#include "database/ZelManagerIndexReader.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestSandbox.h"

#include <QFile>

namespace {

bool isOperatorCharacter(QChar c)
{
    return c == QLatin1Char('<') || c == QLatin1Char('=') || c == QLatin1Char('>') || c == QLatin1Char('!');
}

int readIndex(const QByteArray &index, bool *complete)
{
    ZelManagerIndexReader reader(index);
    ZelManagerIndexReader::Package package;
    int named = 0;
    while (reader.readPackage(package)) {
        FUZZ_CHECK(reader.progress() >= 0 && reader.progress() <= 100);
        if (!package.name.isEmpty())
            ++named;
        for (const ZelManagerIndexReader::File &file : qAsConst(package.files)) {
            FUZZ_CHECK(file.architecture != QLatin1String("i386") && file.architecture != QLatin1String("amd64"));
            for (const auto &dependency : file.dependencies) {
                FUZZ_CHECK(dependency.first == dependency.first.trimmed());
                FUZZ_CHECK(dependency.second.isEmpty() || isOperatorCharacter(dependency.second.at(0)));
            }
        }
    }
    *complete = reader.atEnd();
    FUZZ_CHECK(reader.atEnd() == reader.errorText().isEmpty(), reader.errorText());
    return named;
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
    const QByteArray index(reinterpret_cast<const char *>(data), int(size));
    bool complete = false;
    const int named = readIndex(index, &complete);

    // The import reads the index from the file it was downloaded to.
    const QString indexFile = FuzzSupport::sandbox().path() + QStringLiteral("/packages.xml");
    {
        QFile out(indexFile);
        FUZZ_CHECK(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(index) == index.size());
    }
    const QString file = FuzzSupport::sandbox().path() + QStringLiteral("/import.db");
    ZelManagerIndexImport import(indexFile, file);
    import.start();
    import.wait();
    FUZZ_CHECK(import.succeeded() == complete, import.errorText());
    if (!import.succeeded())
        return 0;
    FUZZ_CHECK(import.packageCount() == named);
    import.takeFile();
    {
        TestDatabaseFile database(file);
        FUZZ_CHECK(database.value(QStringLiteral("SELECT count(*) FROM infos;")).toInt() == named);
    }
    return 0;
}
