// Desktop entries and the triggers that read them. The input is one
// ".desktop" file, placed as an application, an environment and an
// alternative entry of a package:
//  - the shortcuts trigger must remove every shortcut it made;
//  - the environment trigger must set the variable the entry names to the
//    entry's value, and remove it again;
//  - the alternative trigger must write the selected value and remove it with
//    the last provider.
// Service entries are read but their commands are never run here.
#include "integration/DesktopEntry.h"
#include "integration/HostRegistryKey.h"
#include "integration/ZelManagerAlternativeTrigger.h"
#include "integration/ZelManagerApplicationTrigger.h"
#include "integration/ZelManagerEnvironmentTrigger.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <climits>

namespace {

const QString EnvironmentKey = QStringLiteral("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");

QString place(const QString &folder, const QByteArray &data)
{
    const QString path = QStringLiteral("share/") + folder + QStringLiteral("/fuzz.desktop");
    FUZZ_CHECK(FuzzSupport::writeFile(FuzzSupport::targetPath() + QLatin1Char('/') + path, data));
    return path;
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

void checkEntry(const DesktopEntry &entry)
{
    FUZZ_CHECK(entry.id == QLatin1String("fuzz"));
    for (const QString &part : splitCommandLine(entry.exec))
        FUZZ_CHECK(part == part.trimmed(), part);
    for (const QString &item : entry.categories + entry.mimeTypes)
        FUZZ_CHECK(!item.isEmpty() && !item.contains(QLatin1Char(';')));
}

void checkShortcuts(const QString &path)
{
    const QString desktop = ZelManagerApplicationTrigger::desktopFolder();
    const QString programs = ZelManagerApplicationTrigger::programsFolder();
    FuzzSupport::clearFolder(desktop);
    FuzzSupport::clearFolder(programs);
    ZelManagerApplicationTrigger trigger;
    trigger.begin();
    trigger.installFile(path);
    trigger.finish();
    trigger.begin();
    trigger.removeFile(path);
    trigger.finish();
    const QStringList left = filesBelow(desktop) + filesBelow(programs);
    FUZZ_CHECK(left.isEmpty(), left.join(QLatin1Char('|')));
}

void checkEnvironment(const QString &path, const DesktopEntry &entry)
{
    ZelManagerEnvironmentTrigger trigger;
    trigger.begin();
    trigger.installFile(path);
    trigger.finish();
    const QString name = entry.localizedName();
    if (entry.type != DesktopEntryType::Environment || name.isEmpty())
        return;
    const QString expected = entry.path.isEmpty() ? entry.value
        : isAbsoluteHostPath(entry.path)          ? entry.path
                                                  : FuzzSupport::targetPath() + QLatin1Char('/') + entry.path;
    {
        HostRegistryKey key(HostRegistryKey::LocalMachine, EnvironmentKey);
        FUZZ_CHECK(key.value(name).toString() == expected, name + QLatin1Char('=') + expected);
    }
    trigger.begin();
    trigger.removeFile(path);
    trigger.finish();
    HostRegistryKey key(HostRegistryKey::LocalMachine, EnvironmentKey);
    FUZZ_CHECK(!key.hasValue(name), name);
}

void checkAlternative(const QString &path, const DesktopEntry &entry)
{
    const QString folder = FuzzSupport::targetPath() + QStringLiteral("/share/alternatives");
    ZelManagerAlternativeTrigger trigger;
    trigger.begin();
    trigger.installFile(path);
    trigger.finish();
    const QString name = entry.localizedName();
    const QString fileName = ZelManagerAlternativeTrigger::configFileName(name);
    // A name longer than a file name may be is not registered; the trigger
    // warns and leaves everything as it was.
    const bool usable = entry.type == DesktopEntryType::Alternative && entry.priority > 0 && !name.isEmpty()
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0))
        && QFile::encodeName(fileName).size() <= NAME_MAX;
    const QString config = folder + QLatin1Char('/') + fileName;
    if (usable) {
        FUZZ_CHECK(FuzzSupport::readFile(config) == (name + QLatin1Char('=') + entry.value).toUtf8(), config);
        HostRegistryKey key(HostRegistryKey::LocalMachine, EnvironmentKey);
        FUZZ_CHECK(key.value(name).toString() == entry.value, name);
    }
    trigger.begin();
    trigger.removeFile(path);
    QFile::remove(FuzzSupport::targetPath() + QLatin1Char('/') + path);
    trigger.finish();
    if (entry.type == DesktopEntryType::Alternative)
        FUZZ_CHECK(filesBelow(folder).isEmpty(), filesBelow(folder).join(QLatin1Char('|')));
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
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    FuzzSupport::clearFolder(FuzzSupport::targetPath());
    QFile::remove(HostRegistryKey::hiveFile(HostRegistryKey::LocalMachine));

    splitCommandLine(QString::fromUtf8(text));
    const QString application = place(QStringLiteral("applications"), text);
    const DesktopEntry entry = readDesktopEntry(application);
    checkEntry(entry);
    checkShortcuts(application);
    checkEnvironment(place(QStringLiteral("environments"), text), entry);
    checkAlternative(place(QStringLiteral("alternatives"), text), entry);
    return 0;
}
