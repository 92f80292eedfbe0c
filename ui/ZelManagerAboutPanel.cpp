#include "ui/ZelManagerAboutPanel.h"

#include "ui_ZelManagerAboutPanel.h"

#include <QDesktopServices>
#include <QLocale>

#include <archive.h>
#include <sqlite3.h>

ZelManagerAboutPanel::ZelManagerAboutPanel(QWidget *parent)
    : ZelManagerContentPanel(parent)
    , ui(new Ui::ZelManagerAboutPanel)
{
    ui->setupUi(this);
    const QDate built = parseBuildDate(QStringLiteral(__DATE__));
    ui->titleLabel->setText(ui->titleLabel->text().arg(built.toString(QStringLiteral("yyyyMMdd"))));
    ui->sqlite3Label->setText(ui->sqlite3Label->text().arg(QStringLiteral(SQLITE_VERSION)));
    ui->qtLabel->setText(ui->qtLabel->text().arg(QStringLiteral(QT_VERSION_STR)));
    ui->libarchiveLabel->setText(ui->libarchiveLabel->text().arg(QStringLiteral(ARCHIVE_VERSION_ONLY_STRING)));
}

ZelManagerAboutPanel::~ZelManagerAboutPanel() = default;

QList<QAction *> ZelManagerAboutPanel::panelActions() const
{
    return { ui->reportBugsAction };
}

QUrl ZelManagerAboutPanel::bugReportUrl()
{
    return QUrl(QStringLiteral("https://issues.vantorplatform.org/zelmanager"));
}

void ZelManagerAboutPanel::on_reportBugsAction_triggered()
{
    QDesktopServices::openUrl(bugReportUrl());
}

QDate ZelManagerAboutPanel::parseBuildDate(const QString &text)
{
    const QLocale system = QLocale::system();
    const QList<QDate> tries { QDate::fromString(text, Qt::TextDate), QDate::fromString(text, Qt::ISODate),
        system.toDate(text, QLocale::ShortFormat), system.toDate(text, QLocale::LongFormat),
        QDate::fromString(text, Qt::RFC2822Date), QDate::fromString(text, QStringLiteral("MMM dd yyyy")) };
    for (const QDate &date : tries) {
        if (date.isValid())
            return date;
    }
    // The compiler pads a one-digit day with a blank, which the formats
    // above do not read.
    static const QStringList months { QStringLiteral("Jan"), QStringLiteral("Feb"), QStringLiteral("Mar"),
        QStringLiteral("Apr"), QStringLiteral("May"), QStringLiteral("Jun"), QStringLiteral("Jul"),
        QStringLiteral("Aug"), QStringLiteral("Sep"), QStringLiteral("Oct"), QStringLiteral("Nov"),
        QStringLiteral("Dec") };
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 3)
        return QDate();
    return QDate(parts.at(2).toInt(), months.indexOf(parts.at(0)) + 1, parts.at(1).toInt());
}
