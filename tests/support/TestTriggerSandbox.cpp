#include "TestTriggerSandbox.h"

#include "ZelManagerSettings.h"
#include "ZelManagerTrigger.h"

#include <QDir>

TestTriggerSandbox::TestTriggerSandbox()
{
    ZelManagerSettings::instance()->setInstallPath(installPath());
    QDir().mkpath(ZelManagerSettings::instance()->targetPath());
    createTriggers();
}

TestTriggerSandbox::~TestTriggerSandbox()
{
    destroyTriggers();
    ZelManagerSettings::cleanup();
}
