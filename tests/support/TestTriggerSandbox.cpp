#include "tests/support/TestTriggerSandbox.h"

#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"

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
