// The emulated registry hive. Input byte 0 chooses:
//  - even: the rest is a list of values (key path, then name, type and data
//    per value, each text ended by a zero byte, byte 1 standing for a zero
//    character) stored under one machine key;
//    every name and value must read back as stored, and a value stored under
//    another key must change none of them;
//  - odd: the rest is a hive file as found on disk; rewriting the hive (by
//    storing a value under another key) must keep everything that key "A"
//    held before.
#include "integration/HostRegistryKey.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QFile>
#include <QMap>

namespace {

struct Stored
{
    QString name;
    HostRegistryKey::ValueType type;
    QVariant value;
};
using Values = QMap<QString, Stored>; // lower-case name -> last stored

Values readAll(const QString &keyPath)
{
    HostRegistryKey key(HostRegistryKey::LocalMachine, keyPath);
    FUZZ_CHECK(key.isOpen());
    Values values;
    for (const QString &name : key.valueNames()) {
        HostRegistryKey::ValueType type = HostRegistryKey::String;
        const QVariant value = key.value(name, &type);
        FUZZ_CHECK(value.isValid(), name);
        FUZZ_CHECK(!values.contains(name.toLower()), name);
        values.insert(name.toLower(), { name, type, value });
    }
    return values;
}

void checkSame(const Values &expected, const Values &found)
{
    FUZZ_CHECK(expected.keys() == found.keys(),
        expected.keys().join(QLatin1Char('|')) + QStringLiteral(" / ") + found.keys().join(QLatin1Char('|')));
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        const Stored &other = found.value(it.key());
        FUZZ_CHECK(other.name == it->name, it->name + QStringLiteral(" / ") + other.name);
        FUZZ_CHECK(other.type == it->type, it->name);
        FUZZ_CHECK(other.value == it->value,
            it->name + QLatin1Char('=') + it->value.toString() + QStringLiteral(" / ") + other.value.toString());
    }
}

// Another key in the same hive, so that the hive file is rewritten.
void touchOtherKey(const QString &keyPath)
{
    const QString other = keyPath.toLower() == QLatin1String("b") ? QStringLiteral("C") : QStringLiteral("B");
    HostRegistryKey key(HostRegistryKey::LocalMachine, other);
    FUZZ_CHECK(key.setString(QStringLiteral("touched"), QStringLiteral("yes")));
}

QString nextText(const QByteArray &data, int &at)
{
    int end = data.indexOf('\0', at);
    if (end < 0)
        end = data.size();
    // Byte 1 stands for the zero character, which may be part of a name or value.
    QString text = QString::fromUtf8(data.mid(at, end - at));
    text.replace(QChar(1), QChar(0));
    at = end + 1;
    return text;
}

void storeValues(const QByteArray &data)
{
    int at = 0;
    const QString keyPath = nextText(data, at);
    HostRegistryKey key(HostRegistryKey::LocalMachine, keyPath);
    FUZZ_CHECK(key.isOpen());
    Values expected;
    while (at < data.size()) {
        const QString name = nextText(data, at);
        const QString type = nextText(data, at);
        const QString text = nextText(data, at);
        Stored stored { name, HostRegistryKey::ExpandString, text };
        if (type == QLatin1String("dword")) {
            stored = { name, HostRegistryKey::Dword, QVariant::fromValue<quint32>(text.toUInt()) };
            FUZZ_CHECK(key.setDword(name, stored.value.value<quint32>()));
        } else if (type == QLatin1String("delete")) {
            FUZZ_CHECK(key.deleteValue(name) == expected.contains(name.toLower()), name);
            expected.remove(name.toLower());
            continue;
        } else {
            if (type == QLatin1String("sz"))
                stored.type = HostRegistryKey::String;
            FUZZ_CHECK(key.setString(name, text, stored.type));
        }
        // The first spelling of a name stays, as on Windows.
        if (expected.contains(name.toLower()))
            stored.name = expected.value(name.toLower()).name;
        expected.insert(name.toLower(), stored);
        FUZZ_CHECK(key.value(name) == stored.value, name);
    }
    checkSame(expected, readAll(keyPath));
    touchOtherKey(keyPath);
    checkSame(expected, readAll(keyPath));
}

void rewriteHive(const QByteArray &data)
{
    const QString hive = HostRegistryKey::hiveFile(HostRegistryKey::LocalMachine);
    FUZZ_CHECK(FuzzSupport::writeFile(hive, data));
    const Values before = readAll(QStringLiteral("A"));
    touchOtherKey(QStringLiteral("A"));
    checkSame(before, readAll(QStringLiteral("A")));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    InputScope scope;
    QFile::remove(HostRegistryKey::hiveFile(HostRegistryKey::LocalMachine));
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, int(size) - 1);
    if (data[0] % 2 == 0)
        storeValues(rest);
    else
        rewriteHive(rest);
    return 0;
}
