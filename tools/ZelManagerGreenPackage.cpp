#include "tools/ZelManagerGreenPackage.h"

#include "database/ZelManagerDatabase.h"
#include "settings/ZelManagerSettings.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

const char ConfigEntry[] = "etc/zelfixrc";
const char ToolEntry[] = "bin/zelfix.exe";
const char ReadmeEntry[] = "readme.txt";

QStringList sorted(const QSet<QString> &set)
{
    QStringList list = set.values();
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

ZelManagerGreenPackage::ZelManagerGreenPackage(ZelManagerDatabase *database, ZelManagerSettings *settings)
    : m_database(database)
    , m_settings(settings)
{
}

QString ZelManagerGreenPackage::fixupToolFolder() const
{
    return m_toolFolder.isEmpty() ? QCoreApplication::applicationDirPath() : m_toolFolder;
}

QString ZelManagerGreenPackage::fixupToolName(const QString &architecture)
{
    return architecture == QLatin1String("win64") ? QStringLiteral("zelfix-x64.exe") : QStringLiteral("zelfix-32.exe");
}

QString ZelManagerGreenPackage::fixupToolPath() const
{
    return fixupToolFolder() + QLatin1Char('/') + fixupToolName(m_settings->architecture());
}

QString ZelManagerGreenPackage::fixupToolProblem() const
{
    if (QFileInfo(fixupToolPath()).isFile())
        return QString();
    return tr("The fix-up tool %1 is missing, so a green package would not work on another machine. "
              "Build the program with the mingw-w64 cross compilers to get it.")
        .arg(QDir::toNativeSeparators(fixupToolPath()));
}

// An installed package depends on what its installed version names; one
// still to be installed on what its newest version names.
QStringList ZelManagerGreenPackage::dependencyNames(const QString &name) const
{
    const ZelManagerPackage package = m_database->package(name);
    if (package.isNull())
        return {};
    const PackageInfo info = package.isInstalled() ? m_database->packageEntry(name, QString(), true)
                                                   : m_database->packageEntry(name, package.availableVersion(), false);
    QStringList names;
    for (const QString &item : info.dependencies) {
        const QString dependency = splitDependency(item).first;
        if (!dependency.isEmpty())
            names.append(dependency);
    }
    return names;
}

void ZelManagerGreenPackage::collectDependencies(const QString &name, QSet<QString> &closure) const
{
    for (const QString &dependency : dependencyNames(name)) {
        if (closure.contains(dependency))
            continue;
        closure.insert(dependency);
        collectDependencies(dependency, closure);
    }
}

QStringList ZelManagerGreenPackage::packageSet(const QStringList &checked) const
{
    QSet<QString> set;
    for (const QString &name : checked) {
        if (set.contains(name))
            continue;
        set.insert(name);
        collectDependencies(name, set);
    }
    return sorted(set);
}

QString ZelManagerGreenPackage::check(const QString &name)
{
    for (const QString &member : packageSet({ name })) {
        ZelManagerPackage package = m_database->package(member);
        if (package.isNull()) {
            return member == name ? tr("Package %1 is not known to any repository.").arg(name)
                                  : tr("Package %1 depends on %2, which no repository offers.").arg(name, member);
        }
        if (package.isRemoveRequested())
            return tr("Package %1 is marked to be removed.").arg(member);
        if (package.isInstalled() || package.isInstallRequested())
            continue;
        const QString refusal = m_database->requestInstall(package);
        if (!refusal.isEmpty())
            return tr("Package %1 can not be installed: %2").arg(member, refusal);
        m_requested.append(member);
    }
    return QString();
}

QStringList ZelManagerGreenPackage::notInstalled(const QStringList &packages) const
{
    QStringList missing;
    for (const QString &name : packages) {
        if (!m_database->package(name).isInstalled())
            missing.append(name);
    }
    return missing;
}

void ZelManagerGreenPackage::dropRequests()
{
    for (const QString &name : qAsConst(m_requested)) {
        ZelManagerPackage package = m_database->package(name);
        if (!package.isNull() && package.isInstallRequested() && !package.isInstalled())
            m_database->cancelRequest(package);
    }
    m_requested.clear();
}

int ZelManagerGreenPackage::longestFolderName(const QString &architecture)
{
    return architecture == QLatin1String("win64") ? 20 : 18;
}

QString ZelManagerGreenPackage::readme(const QStringList &packages) const
{
    QString text = tr("README FIRST\n============") + QStringLiteral("\n\n");
    text += tr("This is a green package!") + QLatin1Char(' ');
    text += tr("You can extract contents of this file to a folder in the root directory of a drive. The folder name "
               "must not be longer than %1")
                .arg(longestFolderName(m_settings->architecture()))
        + QStringLiteral(". ");
    text += tr("After that, in the folder, run following command:") + QLatin1Char('\n');
    text += tr("  bin/zelfix.exe %1").arg(m_settings->targetPath());
    text += QLatin1Char('\n') + tr("This command will fix all files to fit new folder.");
    text += QLatin1Char(' ') + tr("Then the package is ready to use.");
    text += QStringLiteral("\n\n");
    text += tr("PACKAGE LIST\n============") + QLatin1Char('\n');
    for (const QString &name : packages)
        text += tr(" * %1\n").arg(name);
    return text;
}

QList<ZelManagerGreenPackage::Entry> ZelManagerGreenPackage::entries(const QStringList &packages) const
{
    const QSet<QString> set(packages.begin(), packages.end());
    const QString target = m_settings->targetPath();
    QSet<QString> files;
    for (const auto &file : m_database->fileEntries()) {
        if (set.contains(file.first))
            files.insert(file.second);
    }
    for (const char *special : { ConfigEntry, ToolEntry, ReadmeEntry })
        files.insert(QLatin1String(special));
    QSet<QString> folders { QStringLiteral("bin"), QStringLiteral("etc") };
    for (const QString &file : qAsConst(files)) {
        for (int slash = file.indexOf(QLatin1Char('/')); slash > 0; slash = file.indexOf(QLatin1Char('/'), slash + 1))
            folders.insert(file.left(slash));
    }
    QList<Entry> entries;
    for (const QString &folder : sorted(folders)) {
        Entry entry;
        entry.name = folder;
        entry.folder = true;
        entry.sourcePath = target + QLatin1Char('/') + folder;
        entries.append(entry);
    }
    for (const QString &file : sorted(files)) {
        Entry entry;
        entry.name = file;
        if (file == QLatin1String(ConfigEntry))
            entry.data = m_settings->fixConfigurationText();
        else if (file == QLatin1String(ReadmeEntry))
            entry.data = readme(packages).toUtf8();
        else if (file == QLatin1String(ToolEntry))
            entry.sourcePath = fixupToolPath();
        else
            entry.sourcePath = target + QLatin1Char('/') + file;
        entries.append(entry);
    }
    return entries;
}
