#ifndef ZELMANAGERSETTINGS_H
#define ZELMANAGERSETTINGS_H

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

// The user's choices, loaded once on first use and saved (together with the
// target's "etc/zelfixrc") when the store is destroyed.
class ZelManagerSettings : public QObject
{
    Q_OBJECT

public:
    static ZelManagerSettings *instance();
    static void cleanup();
    static QString iconTheme();
    static void setIconTheme(const QString &name);

    // Organisation under which the persistent store lives.
    static QString organizationName();
    static QUrl officialRepositoryUrl();

    QString installPath() const { return m_installPath; }
    QString architecture(bool raw = false) const;
    QString cachePath() const { return m_cachePath; }
    QByteArray windowGeometry() const { return m_windowGeometry; }
    QString targetPath() const;
    QString infoPath() const { return targetPath() + QStringLiteral("/share/info"); }
    QString iconsPath() const { return targetPath() + QStringLiteral("/share/icons"); }
    QString alternativesPath() const { return targetPath() + QStringLiteral("/share/alternatives"); }
    QString applicationsPath() const { return targetPath() + QStringLiteral("/share/applications"); }
    QString toolchainRoot() const;
    static QString toolchainRoot(const QString &architecture);

    QList<QUrl> repositories() const { return m_repositories.keys(); }
    bool hasRepository(const QUrl &url) const { return m_repositories.contains(url); }
    QString repositoryLabel(const QUrl &url) const;
    bool isRepositoryEnabled(const QUrl &url) const;

    void setInstallPath(const QString &path);
    void setArchitecture(const QString &architecture);
    void setCachePath(const QString &path) { m_cachePath = path; }
    void setWindowGeometry(const QByteArray &geometry) { m_windowGeometry = geometry; }
    void setRepository(const QUrl &url, const QString &label, bool enabled);
    void setRepositoryEnabled(const QUrl &url, bool enabled);
    void removeRepository(const QUrl &url);
    void clearRepositories();

    QSet<QString> excludedFiles() const { return m_excludedFiles; }
    QSet<QString> excludedFolders() const { return m_excludedFolders; }
    QSet<QString> excludedSuffixes() const { return m_excludedSuffixes; }
    void addExcludedFile(const QString &file) { m_excludedFiles.insert(file); }
    void removeExcludedFile(const QString &file) { m_excludedFiles.remove(file); }

    // The fix-up configuration of the current target.
    void readFixConfiguration();
    void writeFixConfiguration() const;
    // The content of that file for the current sets (a green package carries it).
    QByteArray fixConfigurationText() const;

    static QStringList defaultExcludedSuffixes();
    static QStringList defaultExcludedFolders();

signals:
    void repositoryCleared();
    void repositoryAdded(const QUrl &url);
    void repositoryRemoved(const QUrl &url);
    void repositoryChanged(const QUrl &url);
    void installPathChanged(const QString &path);
    void architectureChanged(const QString &architecture);

private:
    ZelManagerSettings();
    ~ZelManagerSettings() override;

    void load();
    void loadRepositories();
    void save() const;

    QByteArray m_windowGeometry;
    QString m_installPath;
    QString m_architecture;
    QString m_cachePath;
    QSet<QString> m_excludedFiles;
    QSet<QString> m_excludedFolders;
    QSet<QString> m_excludedSuffixes;
    QHash<QUrl, QString> m_repositories;

    static ZelManagerSettings *s_instance;
    static QString s_iconTheme;
};

#endif // ZELMANAGERSETTINGS_H
