#include "tests/fuzz/FuzzSupport.h"

#include "database/ZelManagerDatabase.h"
#include "settings/ZelManagerSettings.h"
#include "tests/fuzz/FuzzFileGuard.h"
#include "tests/support/TestPackageDatabase.h"
#include "tests/support/TestSandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdio>
#include <cstdlib>

namespace {

QCoreApplication *s_application = nullptr;
TestPackageDatabase *s_database = nullptr;

std::vector<std::string> cleanFolders(const QStringList &folders)
{
    std::vector<std::string> clean;
    for (const QString &folder : folders) {
        QDir().mkpath(folder);
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        clean.push_back(QFile::encodeName(canonical.isEmpty() ? QDir::cleanPath(folder) : canonical).toStdString());
    }
    return clean;
}

} // namespace

void FuzzSupport::initialize(int *argc, char ***argv, bool openDatabase)
{
    if (s_application)
        return;
    // The program's warnings about hostile input are expected by the
    // thousand; the sanitizers and the checks speak for themselves.
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    s_application = new QCoreApplication(*argc, *argv);
    // The sandbox lives as long as the process; its folder goes with it.
    // libFuzzer reads and writes its files relative to the working folder
    // it was started in.
    const QString workingFolder = QDir::currentPath();
    s_database = new TestPackageDatabase();
    QDir::setCurrent(workingFolder);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(sandbox().path() + QStringLiteral("/runtime")));
    QDir().mkpath(sandbox().path() + QStringLiteral("/runtime"));
    QDir().mkpath(targetPath());
    if (openDatabase)
        s_database->open();
    std::atexit([]() {
        FuzzFileGuard::disarm();
        ZelManagerDatabase::cleanup();
        ZelManagerSettings::cleanup();
        delete s_database;
        s_database = nullptr;
    });
    setAllowedFolders(QStringList { sandbox().path() });
}

TestPackageDatabase &FuzzSupport::database()
{
    return *s_database;
}

const TestSandbox &FuzzSupport::sandbox()
{
    return s_database->sandbox();
}

QString FuzzSupport::targetPath()
{
    return ZelManagerSettings::instance()->targetPath();
}

void FuzzSupport::setAllowedFolders(const QStringList &folders, const QStringList &workerFolders)
{
    FuzzFileGuard::setFolders(cleanFolders(folders), cleanFolders(workerFolders));
}

void FuzzSupport::beginInput()
{
    FuzzFileGuard::arm();
}

void FuzzSupport::endInput()
{
    FuzzFileGuard::disarm();
}

bool FuzzSupport::writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray FuzzSupport::readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void FuzzSupport::clearFolder(const QString &path)
{
    QDir folder(path);
    const QFileInfoList entries
        = folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
}

void FuzzSupport::fail(const char *file, int line, const char *what, const QString &detail)
{
    FuzzFileGuard::disarm();
    std::fprintf(stderr, "==fuzz== %s:%d: check failed: %s\n", file, line, what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "==fuzz== %s\n", qUtf8Printable(detail));
    std::abort();
}
