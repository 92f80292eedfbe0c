#ifndef ZELMANAGERENVIRONMENTTRIGGER_H
#define ZELMANAGERENVIRONMENTTRIGGER_H

#include "integration/ZelManagerTrigger.h"

// Machine environment variables for the entries in "share/environments".
class ZelManagerEnvironmentTrigger : public ZelManagerTrigger
{
public:
    void removeFile(const QString &path) override;
    void installFile(const QString &path) override;
};

#endif // ZELMANAGERENVIRONMENTTRIGGER_H
