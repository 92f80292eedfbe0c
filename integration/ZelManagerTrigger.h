#ifndef ZELMANAGERTRIGGER_H
#define ZELMANAGERTRIGGER_H

#include <QCoreApplication>
#include <QString>

class ZelManagerSettings;

enum class TriggerType : int {
    None = 0,
    Application = 1,
    Alternative = 2,
    Environment = 3,
    SystemService = 4,
    UpdateInfoDir = 5,
    UpdateIconTheme = 6
};

// One kind of registration of installed files with the host. The installer
// and the remover hand every file whose path concerns a trigger to it; the
// batch work of a whole run happens between begin() and finish().
class ZelManagerTrigger
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerTrigger)

public:
    ZelManagerTrigger();
    virtual ~ZelManagerTrigger();
    ZelManagerTrigger(const ZelManagerTrigger &) = delete;
    ZelManagerTrigger &operator=(const ZelManagerTrigger &) = delete;

    virtual void begin() { }
    virtual void finish() { }
    // Paths are relative to the installation folder, with "/" separators.
    virtual void removeFile(const QString &path) = 0;
    virtual void installFile(const QString &path) = 0;
    virtual QString removeActionText() const;
    virtual QString installActionText() const;

protected:
    QString targetPath() const;

    ZelManagerSettings *m_settings; // process-wide, not owned
};

void createTriggers();
void destroyTriggers();
TriggerType triggerTypeForPath(const QString &path);
ZelManagerTrigger *triggerForType(TriggerType type);
void beginTriggers();
void finishTriggers();

#endif // ZELMANAGERTRIGGER_H
