#ifndef ZELMANAGERALTERNATIVETRIGGER_H
#define ZELMANAGERALTERNATIVETRIGGER_H

#include "integration/ZelManagerTrigger.h"

#include <QSet>

// For every alternative name offered in "share/alternatives", selects the
// provider with the highest priority: its value goes into a ".config" file and
// into the environment variable of that name.
class ZelManagerAlternativeTrigger : public ZelManagerTrigger
{
public:
    void begin() override;
    void finish() override;
    void removeFile(const QString &path) override;
    void installFile(const QString &path) override;

    // "Solver_Engine" -> "solver.engine.config"
    static QString configFileName(const QString &name);

private:
    void touch(const QString &path);

    QSet<QString> m_touchedAlternatives;
};

#endif // ZELMANAGERALTERNATIVETRIGGER_H
