#include "app/ZelManager.h"

#include "settings/ZelManagerSettings.h"

ZelManager::ZelManager(QWidget *parent)
    : QMainWindow(parent)
{
    ZelManagerSettings::instance();
    setWindowTitle(tr("Vantor Package Manager"));
    resize(900, 600);
}

ZelManager::~ZelManager()
{
    ZelManagerSettings::cleanup();
}
