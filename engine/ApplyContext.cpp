#include "engine/ApplyContext.h"

#include <QThread>

ApplyContext::ApplyContext(ZelManagerOperationModel *model, QObject *owner)
    : limit(limitFor(QThread::idealThreadCount()))
    , owner(owner)
    , operationModel(model)
{
}

int ApplyContext::limitFor(int idealThreadCount)
{
    return qMax(1, idealThreadCount - 2);
}
