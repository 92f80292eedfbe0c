#ifndef WINDOWSSUPPORT_H
#define WINDOWSSUPPORT_H

#include <QString>

// The host operations that several subsystems share: machine environment
// variables and the system Path, the setting-change broadcast, short path
// names, folder creation and file times. On this host the registry is the
// emulated one of HostRegistryKey and the broadcast writes the environment
// script of HostEnvironment.

extern const char *const MachineEnvironmentKey; // "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"
extern const char *const UserEnvironmentKey; // "Environment"
extern const char *const FileSystemKey; // "SYSTEM\\CurrentControlSet\\Control\\FileSystem"

bool setSystemEnvironmentVariable(const QString &name, const QString &value);
bool removeSystemEnvironmentVariable(const QString &name);
void addToSystemPath(const QString &folder);
void removeFromSystemPath(const QString &folder);
void broadcastEnvironmentChange();
void enableShortNameCreation();
bool setFileTime(const QString &path, qint64 time);
QString shortPathName(const QString &path);
bool makePath(const QString &folder);

#endif // WINDOWSSUPPORT_H
