#include "settings/ZelManagerSettings.h"

#include "app/MLibraryInfo.h"
#include "integration/WindowsSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QSettings>
#include <QTextStream>

#include <sqlite3.h>

#include <algorithm>

ZelManagerSettings *ZelManagerSettings::s_instance = nullptr;
QString ZelManagerSettings::s_iconTheme;

namespace {

const QString RepositoriesGroup = QStringLiteral("repositories");
const QString SettingsHeader = QStringLiteral("[settings]");
const QString FilesHeader = QStringLiteral("[exclude-files]");
const QString FoldersHeader = QStringLiteral("[exclude-folders]");
const QString SuffixesHeader = QStringLiteral("[exclude-suffixes]");

QString homeFolder()
{
    QString home = QString::fromLocal8Bit(qgetenv("HOME"));
    if (home.isEmpty())
        home = QDir::homePath();
    return QDir::fromNativeSeparators(home);
}

QString defaultInstallPath()
{
    return QString::fromLocal8Bit(qgetenv("SYSTEMDRIVE")) + QStringLiteral("/Program Files/Vantor Platform");
}

QStringList sorted(const QSet<QString> &set)
{
    QStringList list = set.values();
    std::sort(list.begin(), list.end());
    return list;
}

// The reader takes one line per entry and trims it: an entry with a line
// break (which could even start a section of its own) or with white space
// around it cannot be written so that it reads back, and is left out.
bool isWritableEntry(const QString &entry)
{
    return !entry.contains(QLatin1Char('\n')) && !entry.contains(QLatin1Char('\r')) && entry == entry.trimmed();
}

} // namespace

ZelManagerSettings *ZelManagerSettings::instance()
{
    sqlite3_initialize();
    if (!s_instance)
        s_instance = new ZelManagerSettings;
    return s_instance;
}

void ZelManagerSettings::cleanup()
{
    delete s_instance;
    s_instance = nullptr;
    sqlite3_shutdown();
}

QString ZelManagerSettings::organizationName()
{
    return QStringLiteral("vantorplatform.org");
}

QUrl ZelManagerSettings::officialRepositoryUrl()
{
    return QUrl(QStringLiteral("https://packages.vantorplatform.org/repository"));
}

QStringList ZelManagerSettings::defaultExcludedSuffixes()
{
    return { QStringLiteral(".bz2"), QStringLiteral(".bmp"), QStringLiteral(".gz"), QStringLiteral(".gif"),
        QStringLiteral(".jpg"), QStringLiteral(".jpeg"), QStringLiteral(".pdf"), QStringLiteral(".png"),
        QStringLiteral(".pyc"), QStringLiteral(".qmlc"), QStringLiteral(".rar"), QStringLiteral(".svg"),
        QStringLiteral(".ttc"), QStringLiteral(".ttf"), QStringLiteral(".xz"), QStringLiteral(".zip") };
}

QStringList ZelManagerSettings::defaultExcludedFolders()
{
    return { QStringLiteral("share/icons"), QStringLiteral("share/info") };
}

ZelManagerSettings::ZelManagerSettings()
{
    load();
}

ZelManagerSettings::~ZelManagerSettings()
{
    save();
}

QString ZelManagerSettings::architecture(bool raw) const
{
    if (!raw) {
        if (m_architecture == QLatin1String("i386"))
            return QStringLiteral("win32");
        if (m_architecture == QLatin1String("amd64"))
            return QStringLiteral("win64");
    }
    return m_architecture;
}

QString ZelManagerSettings::targetPath() const
{
    return m_installPath + QLatin1Char('/') + m_architecture;
}

QString ZelManagerSettings::toolchainRoot(const QString &architecture)
{
    const QString base = QStringLiteral("/usr/lib/vantor/cross-compile/toolchain-root-folder/");
    if (architecture == QLatin1String("win32"))
        return base + QStringLiteral("i686-w64-mingw32");
    if (architecture == QLatin1String("win64"))
        return base + QStringLiteral("x86_64-w64-mingw32");
    return QString();
}

QString ZelManagerSettings::toolchainRoot() const
{
    return toolchainRoot(m_architecture);
}

QString ZelManagerSettings::repositoryLabel(const QUrl &url) const
{
    const QString value = m_repositories.value(url);
    const int bar = value.indexOf(QLatin1Char('|'));
    return bar > 0 ? value.left(bar) : value;
}

bool ZelManagerSettings::isRepositoryEnabled(const QUrl &url) const
{
    const QString value = m_repositories.value(url);
    const int bar = value.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return true;
    return value.mid(bar + 1).trimmed().toInt() != 0;
}

void ZelManagerSettings::setInstallPath(const QString &path)
{
    if (path == m_installPath)
        return;
    if (!m_installPath.isEmpty())
        writeFixConfiguration();
    m_installPath = path;
    emit installPathChanged(path);
}

void ZelManagerSettings::setArchitecture(const QString &architecture)
{
    if (architecture == m_architecture)
        return;
    m_architecture = architecture;
    emit architectureChanged(architecture);
}

void ZelManagerSettings::setRepository(const QUrl &url, const QString &label, bool enabled)
{
    const bool known = m_repositories.contains(url);
    m_repositories.insert(url, label + QLatin1Char('|') + QLatin1Char(enabled ? '1' : '0'));
    if (known)
        emit repositoryChanged(url);
    else
        emit repositoryAdded(url);
}

void ZelManagerSettings::setRepositoryEnabled(const QUrl &url, bool enabled)
{
    auto it = m_repositories.find(url);
    if (it == m_repositories.end())
        return;
    const int bar = it->indexOf(QLatin1Char('|'));
    if (bar <= 0 || isRepositoryEnabled(url) == enabled)
        return;
    *it = it->left(bar + 1) + QLatin1Char(enabled ? '1' : '0');
    emit repositoryChanged(url);
}

void ZelManagerSettings::removeRepository(const QUrl &url)
{
    m_repositories.remove(url);
    emit repositoryRemoved(url);
}

void ZelManagerSettings::clearRepositories()
{
    m_repositories.clear();
    emit repositoryCleared();
}

void ZelManagerSettings::load()
{
    {
        QSettings store(organizationName(), QStringLiteral("zelmanager"));
        m_installPath = store.value(QStringLiteral("install-path")).toString();
        m_cachePath = store.value(QStringLiteral("cache-path")).toString();
        m_architecture = store.value(QStringLiteral("architecture")).toString();
        m_windowGeometry = store.value(QStringLiteral("window-geometry")).toByteArray();
    }
    if (m_architecture != QLatin1String("win32") && m_architecture != QLatin1String("win64"))
        m_architecture = QStringLiteral("win32");
    const QString home = homeFolder();
    if (toolchainRoot().size() < m_architecture.size() + m_installPath.size() + 1)
        m_installPath.clear();
    if (m_installPath.isEmpty())
        m_installPath = defaultInstallPath();
    if (m_cachePath.isEmpty())
        m_cachePath = QDir::fromNativeSeparators(home + QStringLiteral("/.cache/zelmanager"));
    loadRepositories();

    for (const QString &suffix : defaultExcludedSuffixes())
        m_excludedSuffixes.insert(suffix);
    for (const QString &folder : defaultExcludedFolders())
        m_excludedFolders.insert(folder);
    readFixConfiguration();
}

void ZelManagerSettings::loadRepositories()
{
    if (QFileInfo::exists(QDir::currentPath() + QStringLiteral("/packages/packages.xml"))) {
        const QUrl url = QUrl::fromLocalFile(QDir::currentPath() + QStringLiteral("/packages"));
        m_repositories.insert(url, tr("Vantor CDROM Repository") + QStringLiteral("|1"));
        return;
    }
    QSettings store(organizationName(), QStringLiteral("zelmanager"));
    store.beginGroup(RepositoriesGroup);
    for (const QString &key : store.childKeys()) {
        const QString value = store.value(key).toString();
        const int bar = value.indexOf(QLatin1Char('|'));
        if (bar <= 0)
            continue;
        const QUrl url(value.left(bar).trimmed());
        if (!url.isValid() || url.isEmpty())
            continue;
        m_repositories.insert(url, value.mid(bar + 1).trimmed());
    }
    store.endGroup();
    if (m_repositories.isEmpty())
        m_repositories.insert(officialRepositoryUrl(), tr("Vantor Offical Repository") + QStringLiteral("|1"));
}

// The cache path is written back too: a folder the user chose during the run
// must still be in use at the next start.
void ZelManagerSettings::save() const
{
    {
        QSettings store(organizationName(), QStringLiteral("zelmanager"));
        store.setValue(QStringLiteral("window-geometry"), m_windowGeometry);
        store.setValue(QStringLiteral("install-path"), m_installPath);
        store.setValue(QStringLiteral("architecture"), m_architecture);
        store.setValue(QStringLiteral("cache-path"), m_cachePath);
        store.remove(RepositoriesGroup);
        store.beginGroup(RepositoriesGroup);
        int number = 1;
        for (auto it = m_repositories.constBegin(); it != m_repositories.constEnd(); ++it, ++number)
            store.setValue(QString::number(number), it.key().toString() + QLatin1Char('|') + it.value());
        store.endGroup();
    }
    writeFixConfiguration();
}

void ZelManagerSettings::readFixConfiguration()
{
    QFile file(targetPath() + QStringLiteral("/etc/zelfixrc"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QSet<QString> *section = nullptr;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line == SettingsHeader) {
            section = nullptr;
        } else if (line == FilesHeader) {
            section = &m_excludedFiles;
        } else if (line == FoldersHeader) {
            section = &m_excludedFolders;
        } else if (line == SuffixesHeader) {
            section = &m_excludedSuffixes;
        } else if (section && line.indexOf(QLatin1Char('='), 1) > 0) {
            section->insert(line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed());
        }
    }
}

void ZelManagerSettings::writeFixConfiguration() const
{
    QFile file(shortPathName(targetPath()) + QStringLiteral("/etc/zelfixrc"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(fixConfigurationText());
}

QByteArray ZelManagerSettings::fixConfigurationText() const
{
    QString text = SettingsHeader + QStringLiteral("\nprefix=") + shortPathName(targetPath()) + QLatin1Char('\n');
    const QPair<QString, const QSet<QString> *> sections[] = {
        { FilesHeader, &m_excludedFiles },
        { FoldersHeader, &m_excludedFolders },
        { SuffixesHeader, &m_excludedSuffixes },
    };
    for (const auto &section : sections) {
        text += QLatin1Char('\n') + section.first + QLatin1Char('\n');
        int position = 0;
        for (const QString &entry : sorted(*section.second)) {
            if (isWritableEntry(entry))
                text += QString::number(position++) + QLatin1Char('=') + entry + QLatin1Char('\n');
        }
    }
    return text.toUtf8();
}

QString ZelManagerSettings::iconTheme()
{
    if (s_iconTheme.isEmpty()) {
        for (bool user : { true, false }) {
            QFile file(MLibraryInfo::getSettingsPath(user, 0) + QStringLiteral("/icon.theme"));
            if (file.open(QIODevice::ReadOnly))
                s_iconTheme = QString::fromUtf8(file.readAll()).trimmed();
            if (!s_iconTheme.isEmpty())
                break;
        }
        if (s_iconTheme.isEmpty())
            s_iconTheme = QStringLiteral("breeze");
        QIcon::setThemeName(s_iconTheme);
    }
    return s_iconTheme;
}

void ZelManagerSettings::setIconTheme(const QString &name)
{
    s_iconTheme = name;
    const QString folder = MLibraryInfo::getSettingsPath(true, 0);
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/icon.theme"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(name.toUtf8());
}
