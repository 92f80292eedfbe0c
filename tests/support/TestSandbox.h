#ifndef TESTSANDBOX_H
#define TESTSANDBOX_H

#include <QString>
#include <QTemporaryDir>

// A fresh temporary folder that stands in for everything outside the
// program: HOME, the host root (machine registry hive), the XDG folders and
// the working folder all point into it while the sandbox lives.
class TestSandbox
{
public:
    TestSandbox();
    ~TestSandbox();

    QString path() const { return m_dir.path(); }
    QString home() const { return m_dir.path() + QStringLiteral("/home"); }
    QString hostRoot() const { return m_dir.path() + QStringLiteral("/host"); }
    QString work() const { return m_dir.path() + QStringLiteral("/work"); }
    // A default install path inside the sandbox, short enough for the
    // toolchain-root invariant.
    QString installPath() const { return m_dir.path() + QStringLiteral("/vp"); }

    static QString readFile(const QString &path);
    static bool writeFile(const QString &path, const QByteArray &data);

private:
    QTemporaryDir m_dir;
    QString m_oldWorkingFolder;
};

#endif // TESTSANDBOX_H
