#include "tests/support/TestModalCloser.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

TestModalCloser::TestModalCloser(const Handler &handler)
    : m_handler(handler)
{
    connect(&m_timer, &QTimer::timeout, this, &TestModalCloser::onTimeout);
    m_timer.start(20);
}

void TestModalCloser::onTimeout()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    m_titles.append(modal->windowTitle());
    auto *box = qobject_cast<QMessageBox *>(modal);
    m_texts.append(box ? box->text() : QString());
    if (m_handler)
        m_handler(modal);
    if (modal->isVisible()) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }
}
