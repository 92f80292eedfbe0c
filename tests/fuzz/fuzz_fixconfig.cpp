// The fix-up configuration "etc/zelfixrc" of the settings store. Input byte 0
// chooses:
//  - even: the rest is a list of file names (ended by zero bytes) that the
//    installer excludes from fix-up; written and read by a new store, every
//    name that a line can hold must come back, and nothing else;
//  - odd: the rest is a configuration file as found on disk; what a store
//    reads from it must survive being written and read again.
#include "settings/ZelManagerSettings.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

struct Sets
{
    QSet<QString> files;
    QSet<QString> folders;
    QSet<QString> suffixes;
};

Sets current()
{
    const ZelManagerSettings *settings = ZelManagerSettings::instance();
    return { settings->excludedFiles(), settings->excludedFolders(), settings->excludedSuffixes() };
}

QString fileName()
{
    return FuzzSupport::targetPath() + QStringLiteral("/etc/zelfixrc");
}

// A new store reads the file as the program does at its start.
void reload()
{
    ZelManagerSettings::cleanup();
    ZelManagerSettings::instance();
}

QString describe(const QSet<QString> &set)
{
    QStringList list = set.values();
    list.sort();
    return list.join(QStringLiteral("|"));
}

void checkSame(const Sets &expected, const Sets &found)
{
    FUZZ_CHECK(found.files == expected.files, describe(expected.files) + QStringLiteral(" / ") + describe(found.files));
    FUZZ_CHECK(found.folders == expected.folders);
    FUZZ_CHECK(found.suffixes == expected.suffixes);
}

void roundTripNames(const QByteArray &data)
{
    // The store is saved on its way out: start from the defaults alone.
    ZelManagerSettings::cleanup();
    QFile::remove(fileName());
    // The store writes into an existing "etc" folder only.
    QDir().mkpath(QFileInfo(fileName()).absolutePath());
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    const QList<QByteArray> names = data.split('\0');
    for (const QByteArray &name : names)
        settings->addExcludedFile(QString::fromUtf8(name));
    Sets expected = current();
    // Names that the file cannot hold (a line break, white space around)
    // are left out of it, and nothing else comes back in their place.
    for (const QByteArray &name : names) {
        const QString text = QString::fromUtf8(name);
        if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) || text != text.trimmed())
            expected.files.remove(text);
    }
    settings->writeFixConfiguration();
    reload();
    checkSame(expected, current());
}

void rereadFile(const QByteArray &data)
{
    ZelManagerSettings::cleanup();
    FUZZ_CHECK(FuzzSupport::writeFile(fileName(), data));
    ZelManagerSettings::instance();
    const Sets read = current();
    ZelManagerSettings::instance()->writeFixConfiguration();
    reload();
    checkSame(read, current());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv, false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    InputScope scope;
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, int(size) - 1);
    if (data[0] % 2 == 0)
        roundTripNames(rest);
    else
        rereadFile(rest);
    return 0;
}
