#ifndef MLIBRARYINFO_H
#define MLIBRARYINFO_H

#include <QDateTime>
#include <QString>

// Version, build time and the folders of the platform's installation
// prefixes. "user" selects the per-user prefix ($HOME/.vantor); "target" 0 is
// the native target, any other target has no folders here.
class MLibraryInfo
{
public:
    static QString getVersion();
    static QDateTime getBuildTime();

    static QString getPrefixPath(bool user = false, int target = 0);
    static QString getSettingsPath(bool user = false, int target = 0);
    static QString getBinariesPath(bool user = false, int target = 0);
    static QString getHeadersPath(bool user = false, int target = 0);
    static QString getLibrariesPath(bool user = false, int target = 0);
    static QString getPluginsPath(bool user = false, int target = 0);
    static QString getDataPath(bool user = false, int target = 0);
    static QString getResourcesPath(bool user = false, int target = 0);
    static QString getDocumentationPath(bool user = false, int target = 0);
    static QString getVariableDataPath(bool user = false, int target = 0);
    static QString getTranslationsPath(bool user = false, int target = 0);

    static void updateNativeTarget();
    static int nativeWordSize();
    static QString nativeArchitecture();
    static QString nativeProcessor();

    // Parses the compiler's build date ("Jan  4 2024") and time ("19:35:55").
    static QDateTime parseBuildTime(const char *date, const char *time);

private:
    static QString subPath(bool user, int target, const QString &sub);
};

#endif // MLIBRARYINFO_H
