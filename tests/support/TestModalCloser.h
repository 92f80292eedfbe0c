#ifndef TESTMODALCLOSER_H
#define TESTMODALCLOSER_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QWidget;

// Answers the modal dialogs a widget test provokes, as a user would: while
// it lives, each modal widget that becomes active is handed to the handler
// (which may fill it in and accept it) and then closed. Message boxes are
// recorded by title and text.
class TestModalCloser : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(QWidget *modal)>;

    explicit TestModalCloser(const Handler &handler = Handler());

    int count() const { return m_titles.size(); }
    QStringList titles() const { return m_titles; }
    QStringList texts() const { return m_texts; }

private:
    void onTimeout();

    Handler m_handler;
    QTimer m_timer;
    QStringList m_titles;
    QStringList m_texts;
};

#endif // TESTMODALCLOSER_H
