#ifndef HOSTREGISTRYKEY_H
#define HOSTREGISTRYKEY_H

#include <QString>
#include <QStringList>
#include <QVariant>

// An open key of the emulated registry. The machine hive
// (HKEY_LOCAL_MACHINE) lives below the host root, the user hive
// (HKEY_CURRENT_USER) below the home folder; each hive is one text file that
// is read and rewritten on every change. Opening a machine key fails, as it
// does on Windows without administrator rights, when the machine hive cannot
// be written.
class HostRegistryKey
{
public:
    enum Root { LocalMachine, CurrentUser };
    enum ValueType { String = 1, ExpandString = 2, Dword = 4 };

    HostRegistryKey() = default;
    HostRegistryKey(Root root, const QString &keyPath);
    ~HostRegistryKey();
    HostRegistryKey(const HostRegistryKey &) = delete;
    HostRegistryKey &operator=(const HostRegistryKey &) = delete;

    bool open(Root root, const QString &keyPath);
    void close();
    bool isOpen() const { return m_open; }

    bool hasValue(const QString &name) const;
    QStringList valueNames() const;
    // Strings come back as QString, DWORDs as quint32; an invalid QVariant
    // when the value is missing.
    QVariant value(const QString &name, ValueType *type = nullptr) const;
    bool setString(const QString &name, const QString &value, ValueType type = ExpandString);
    bool setDword(const QString &name, quint32 value);
    bool deleteValue(const QString &name);

    static QString hiveFile(Root root);

private:
    bool store(const QString &name, const QVariant &value, ValueType type, bool remove);

    Root m_root = CurrentUser;
    QString m_keyPath;
    bool m_open = false;
};

#endif // HOSTREGISTRYKEY_H
