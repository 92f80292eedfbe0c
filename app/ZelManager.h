#ifndef ZELMANAGER_H
#define ZELMANAGER_H

#include <QMainWindow>

// The main window. It owns the process-wide objects for the whole run.
class ZelManager : public QMainWindow
{
    Q_OBJECT

public:
    explicit ZelManager(QWidget *parent = nullptr);
    ~ZelManager() override;
};

#endif // ZELMANAGER_H
