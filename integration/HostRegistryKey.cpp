#include "integration/HostRegistryKey.h"

#include "diagnostics/ZelManagerLogging.h"
#include "integration/HostEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>

// Hive file format, UTF-8, one item a line:
//   [KEY\PATH]               a key (path compared case-insensitively)
//   name=sz:text             REG_SZ
//   name=expand:text         REG_EXPAND_SZ
//   name=dword:123           REG_DWORD (decimal)
// Backslash, line breaks, "=", "[" and "]" in key paths, names and data are
// escaped as \\ \n \r \e \[ \]: no name or data makes a line that reads as a
// key. Any other character after a backslash stands for itself.
namespace {

struct Value
{
    HostRegistryKey::ValueType type;
    QVariant data;
};
using Key = QMap<QString, QPair<QString, Value>>; // lower-case name -> (name, value)
using Hive = QMap<QString, QPair<QString, Key>>; // lower-case path -> (path, key)

QString escape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('='))
            out += QLatin1String("\\e");
        else if (c == QLatin1Char('\\') || c == QLatin1Char('[') || c == QLatin1Char(']'))
            out += QLatin1Char('\\') + QString(c);
        else
            out += c;
    }
    return out;
}

QString unescape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            out += c;
            continue;
        }
        QChar n = text.at(++i);
        out += n == QLatin1Char('n') ? QChar(QLatin1Char('\n'))
            : n == QLatin1Char('r')  ? QChar(QLatin1Char('\r'))
            : n == QLatin1Char('e')  ? QChar(QLatin1Char('='))
                                     : n;
    }
    return out;
}

Hive readHive(const QString &file)
{
    Hive hive;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return hive;
    // With its size: the text of a value may hold a zero character, and
    // reading up to it would lose the rest of the hive.
    const QByteArray bytes = f.readAll();
    const QStringList lines = QString::fromUtf8(bytes.constData(), bytes.size()).split(QLatin1Char('\n'));
    Key *key = nullptr;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            QString path = unescape(line.mid(1, line.size() - 2));
            auto &entry = hive[path.toLower()];
            entry.first = path;
            key = &entry.second;
            continue;
        }
        int eq = line.indexOf(QLatin1Char('='));
        int colon = line.indexOf(QLatin1Char(':'), eq + 1);
        // A line that starts with "=" holds the key's default value (empty name).
        if (!key || eq < 0 || colon < 0)
            continue;
        QString name = unescape(line.left(eq));
        QString type = line.mid(eq + 1, colon - eq - 1);
        QString data = unescape(line.mid(colon + 1));
        Value v;
        if (type == QLatin1String("dword")) {
            v = { HostRegistryKey::Dword, QVariant::fromValue<quint32>(data.toUInt()) };
        } else if (type == QLatin1String("sz")) {
            v = { HostRegistryKey::String, data };
        } else {
            v = { HostRegistryKey::ExpandString, data };
        }
        (*key)[name.toLower()] = qMakePair(name, v);
    }
    return hive;
}

QString hiveText(const Hive &hive)
{
    QString text;
    for (const auto &key : hive) {
        text += QLatin1Char('[') + escape(key.first) + QLatin1String("]\n");
        for (const auto &entry : key.second) {
            const Value &v = entry.second;
            QString type = v.type == HostRegistryKey::Dword ? QStringLiteral("dword")
                : v.type == HostRegistryKey::String         ? QStringLiteral("sz")
                                                            : QStringLiteral("expand");
            QString data
                = v.type == HostRegistryKey::Dword ? QString::number(v.data.value<quint32>()) : v.data.toString();
            text += escape(entry.first) + QLatin1Char('=') + type + QLatin1Char(':') + escape(data) + QLatin1Char('\n');
        }
    }
    return text;
}

bool writeHive(const QString &file, const Hive &hive)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile f(file);
    bool ok = f.open(QIODevice::WriteOnly);
    if (ok) {
        f.write(hiveText(hive).toUtf8());
        ok = f.commit();
    }
    if (!ok)
        qCWarning(zelHost, "cannot write registry hive %s: %s", qUtf8Printable(file), qUtf8Printable(f.errorString()));
    return ok;
}

// A hive can be opened with full access when its file, or the first folder of
// its path that exists, is writable.
bool hiveWritable(const QString &file)
{
    QFileInfo info(file);
    if (info.exists())
        return info.isFile() && info.isWritable();
    QString path = info.absolutePath();
    while (!QFileInfo::exists(path) && path != QLatin1String("/"))
        path = QFileInfo(path).absolutePath();
    QFileInfo existing(path);
    return existing.isDir() && existing.isWritable();
}

} // namespace

HostRegistryKey::HostRegistryKey(Root root, const QString &keyPath)
{
    open(root, keyPath);
}

HostRegistryKey::~HostRegistryKey()
{
    close();
}

QString HostRegistryKey::hiveFile(Root root)
{
    return root == LocalMachine ? HostEnvironment::machineHiveFile() : HostEnvironment::userHiveFile();
}

bool HostRegistryKey::open(Root root, const QString &keyPath)
{
    close();
    if (!hiveWritable(hiveFile(root)))
        return false;
    m_root = root;
    m_keyPath = keyPath;
    m_open = true;
    return true;
}

void HostRegistryKey::close()
{
    m_open = false;
    m_keyPath.clear();
}

bool HostRegistryKey::hasValue(const QString &name) const
{
    return value(name).isValid();
}

QStringList HostRegistryKey::valueNames() const
{
    QStringList names;
    if (!m_open)
        return names;
    const Hive hive = readHive(hiveFile(m_root));
    auto key = hive.constFind(m_keyPath.toLower());
    if (key != hive.constEnd()) {
        for (const auto &entry : key->second)
            names << entry.first;
    }
    return names;
}

QVariant HostRegistryKey::value(const QString &name, ValueType *type) const
{
    if (!m_open)
        return QVariant();
    const Hive hive = readHive(hiveFile(m_root));
    auto key = hive.constFind(m_keyPath.toLower());
    if (key == hive.constEnd())
        return QVariant();
    auto entry = key->second.constFind(name.toLower());
    if (entry == key->second.constEnd())
        return QVariant();
    if (type)
        *type = entry->second.type;
    return entry->second.data;
}

bool HostRegistryKey::setString(const QString &name, const QString &value, ValueType type)
{
    return store(name, value, type == Dword ? ExpandString : type, false);
}

bool HostRegistryKey::setDword(const QString &name, quint32 value)
{
    return store(name, QVariant::fromValue<quint32>(value), Dword, false);
}

bool HostRegistryKey::deleteValue(const QString &name)
{
    return store(name, QVariant(), ExpandString, true);
}

bool HostRegistryKey::store(const QString &name, const QVariant &value, ValueType type, bool remove)
{
    if (!m_open)
        return false;
    const QString file = hiveFile(m_root);
    Hive hive = readHive(file);
    auto &key = hive[m_keyPath.toLower()];
    if (key.first.isEmpty())
        key.first = m_keyPath;
    if (remove) {
        if (!key.second.remove(name.toLower()))
            return false;
    } else {
        auto &entry = key.second[name.toLower()];
        if (entry.first.isEmpty())
            entry.first = name;
        entry.second = { type, value };
    }
    return writeHive(file, hive);
}
