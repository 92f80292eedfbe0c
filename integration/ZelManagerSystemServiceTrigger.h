#ifndef ZELMANAGERSYSTEMSERVICETRIGGER_H
#define ZELMANAGERSYSTEMSERVICETRIGGER_H

#include "integration/ZelManagerTrigger.h"

// Runs the install, start, stop and remove commands of the entries in
// "share/services".
class ZelManagerSystemServiceTrigger : public ZelManagerTrigger
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerSystemServiceTrigger)

public:
    void removeFile(const QString &path) override;
    void installFile(const QString &path) override;
    QString removeActionText() const override;
    QString installActionText() const override;
};

// Runs one command line in the installation folder and returns its exit code,
// keeping the user interface alive meanwhile. An empty command line and a
// program that cannot be started count as 0; a crash counts as failure, and
// so does a command still running after the time limit: it is ended.
int runServiceCommand(const QString &commandLine);

// How long a service command may run, in milliseconds (5 minutes unless set).
int serviceCommandTimeLimit();
void setServiceCommandTimeLimit(int milliseconds);

#endif // ZELMANAGERSYSTEMSERVICETRIGGER_H
