#include "integration/ZelManagerTrigger.h"

#include "engine/ZelManagerTargetFolder.h"
#include "integration/ZelManagerAlternativeTrigger.h"
#include "integration/ZelManagerApplicationTrigger.h"
#include "integration/ZelManagerEnvironmentTrigger.h"
#include "integration/ZelManagerSystemServiceTrigger.h"
#include "integration/ZelManagerUpdateIconThemeTrigger.h"
#include "integration/ZelManagerUpdateInfoDirTrigger.h"
#include "settings/ZelManagerSettings.h"

#include <QStringList>

namespace {

ZelManagerTrigger *applicationTrigger = nullptr;
ZelManagerTrigger *alternativeTrigger = nullptr;
ZelManagerTrigger *environmentTrigger = nullptr;
ZelManagerTrigger *systemServiceTrigger = nullptr;
ZelManagerTrigger *updateInfoDirTrigger = nullptr;
ZelManagerTrigger *updateIconThemeTrigger = nullptr;

void destroy(ZelManagerTrigger *&trigger)
{
    delete trigger;
    trigger = nullptr;
}

} // namespace

ZelManagerTrigger::ZelManagerTrigger()
    : m_settings(ZelManagerSettings::instance())
{
}

ZelManagerTrigger::~ZelManagerTrigger() = default;

QString ZelManagerTrigger::removeActionText() const
{
    return tr("Apply Trigger");
}

QString ZelManagerTrigger::installActionText() const
{
    return tr("Apply Trigger");
}

QString ZelManagerTrigger::targetPath() const
{
    return m_settings->targetPath();
}

void createTriggers()
{
    if (alternativeTrigger)
        return;
    alternativeTrigger = new ZelManagerAlternativeTrigger;
    applicationTrigger = new ZelManagerApplicationTrigger;
    environmentTrigger = new ZelManagerEnvironmentTrigger;
    systemServiceTrigger = new ZelManagerSystemServiceTrigger;
    updateInfoDirTrigger = new ZelManagerUpdateInfoDirTrigger;
    updateIconThemeTrigger = new ZelManagerUpdateIconThemeTrigger;
}

void destroyTriggers()
{
    destroy(alternativeTrigger);
    destroy(applicationTrigger);
    destroy(environmentTrigger);
    destroy(systemServiceTrigger);
    destroy(updateInfoDirTrigger);
    destroy(updateIconThemeTrigger);
}

TriggerType triggerTypeForPath(const QString &path)
{
    // A package path that climbs out of its folder (or stands still in it)
    // would make a trigger write outside the folder it maintains.
    if (ZelManagerTargetFolder::entryPath(path) != path)
        return TriggerType::None;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const QString directory = slash < 0 ? QString() : path.left(slash);
    const QString fileName = path.mid(slash + 1);
    const int firstDot = fileName.indexOf(QLatin1Char('.'));
    const int lastDot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString suffix = lastDot < 0 ? QString() : fileName.mid(lastDot + 1);
    const QString completeSuffix = firstDot < 0 ? QString() : fileName.mid(firstDot + 1);

    if (directory == QLatin1String("share/info")
        && (suffix == QLatin1String("info") || completeSuffix == QLatin1String("info.gz")))
        return TriggerType::UpdateInfoDir;
    if (directory.startsWith(QLatin1String("share/icons/")))
        return TriggerType::UpdateIconTheme;
    if (suffix != QLatin1String("desktop"))
        return TriggerType::None;
    if (directory == QLatin1String("share/services"))
        return TriggerType::SystemService;
    if (directory == QLatin1String("share/applications"))
        return TriggerType::Application;
    if (directory == QLatin1String("share/alternatives"))
        return TriggerType::Alternative;
    if (directory == QLatin1String("share/environments"))
        return TriggerType::Environment;
    return TriggerType::None;
}

ZelManagerTrigger *triggerForType(TriggerType type)
{
    switch (type) {
    case TriggerType::Application:
        return applicationTrigger;
    case TriggerType::Alternative:
        return alternativeTrigger;
    case TriggerType::Environment:
        return environmentTrigger;
    case TriggerType::SystemService:
        return systemServiceTrigger;
    case TriggerType::UpdateInfoDir:
        return updateInfoDirTrigger;
    case TriggerType::UpdateIconTheme:
        return updateIconThemeTrigger;
    default:
        return nullptr;
    }
}

void beginTriggers()
{
    for (ZelManagerTrigger *trigger : { applicationTrigger, alternativeTrigger, environmentTrigger,
             updateInfoDirTrigger, systemServiceTrigger, updateIconThemeTrigger }) {
        if (trigger)
            trigger->begin();
    }
}

void finishTriggers()
{
    for (ZelManagerTrigger *trigger : { applicationTrigger, alternativeTrigger, environmentTrigger,
             systemServiceTrigger, updateInfoDirTrigger, updateIconThemeTrigger }) {
        if (trigger)
            trigger->finish();
    }
}
