#ifndef ZELMANAGERREPOSITORYDLG_H
#define ZELMANAGERREPOSITORYDLG_H

#include <QDialog>
#include <QUrl>

#include <memory>

namespace Ui {
class ZelManagerRepositoryDlg;
}

// Asks for a repository's label and URL. OK is enabled only once either
// differs (trimmed) from what the dialog was opened with, and only while the
// URL reads as a valid one.
class ZelManagerRepositoryDlg : public QDialog
{
    Q_OBJECT

public:
    explicit ZelManagerRepositoryDlg(QWidget *parent = nullptr);
    ~ZelManagerRepositoryDlg() override;

    // Only a valid URL is taken.
    void setUrl(const QUrl &url);
    void setLabel(const QString &label);
    QUrl url() const;
    QString label() const;

    // Parses what a user typed: a path becomes a file URL.
    static QUrl urlFromText(const QString &text);

public slots:
    void updateOkButtonState();
    void on_urlEdit_textChanged(const QString &text);
    void on_labelEdit_textChanged(const QString &text);

private:
    std::unique_ptr<Ui::ZelManagerRepositoryDlg> ui;
    QString m_initialUrl;
    QString m_initialLabel;
    bool m_urlChanged = false;
    bool m_labelChanged = false;
};

#endif // ZELMANAGERREPOSITORYDLG_H
