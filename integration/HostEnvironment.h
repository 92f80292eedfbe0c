#ifndef HOSTENVIRONMENT_H
#define HOSTENVIRONMENT_H

#include <QString>

// Where the Linux host keeps what Windows keeps in the registry and in
// machine-wide places. Both roots come from the environment so that a test
// (or a user trying the program) can redirect every host effect:
//   ZELMANAGER_HOST_ROOT  machine-wide state (the machine registry hive);
//                         default "/var/lib/zelmanager"
//   HOME                  the user's home (user registry hive, the
//                         environment script, per-user settings)
class HostEnvironment
{
public:
    static QString hostRoot();
    static QString homeFolder();

    static QString machineHiveFile();
    static QString userHiveFile();
    // Shell file that a login can source to get the variables the program set.
    static QString environmentScriptFile();
};

#endif // HOSTENVIRONMENT_H
