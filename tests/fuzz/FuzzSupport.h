#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

class TestPackageDatabase;
class TestSandbox;

// What every fuzz target shares: a QCoreApplication, and one sandbox for the
// whole process that stands for the world outside the program (HOME, the host
// root, the XDG folders, the installation). While an input runs, every file
// system change outside the allowed folders (by default the sandbox) aborts
// the process: a parser that writes elsewhere is a finding, and the machine
// that runs the fuzzer stays untouched.
class FuzzSupport
{
public:
    // Called from LLVMFuzzerInitialize. Without openDatabase the target may
    // destroy and recreate the settings store.
    static void initialize(int *argc, char ***argv, bool openDatabase = true);
    // The installation (architecture "win32"), with its package database.
    static TestPackageDatabase &database();
    static const TestSandbox &sandbox();
    static QString targetPath();

    // Changes below these folders are allowed while an input runs; changes
    // made by threads other than the main thread only below the second list
    // (empty: the same folders).
    static void setAllowedFolders(const QStringList &folders, const QStringList &workerFolders = QStringList());
    // Brackets one input; see InputScope.
    static void beginInput();
    static void endInput();

    static bool writeFile(const QString &path, const QByteArray &data);
    static QByteArray readFile(const QString &path);
    // Empties a folder (keeping it).
    static void clearFolder(const QString &path);

    [[noreturn]] static void fail(const char *file, int line, const char *what, const QString &detail = QString());
};

// Guards the file system while one input runs.
class InputScope
{
public:
    InputScope() { FuzzSupport::beginInput(); }
    ~InputScope() { FuzzSupport::endInput(); }
    InputScope(const InputScope &) = delete;
    InputScope &operator=(const InputScope &) = delete;
};

// A property that every input must keep.
#define FUZZ_CHECK(condition, ...)                                                                                     \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            FuzzSupport::fail(__FILE__, __LINE__, #condition, ##__VA_ARGS__);                                          \
    } while (false)

#endif // FUZZSUPPORT_H
