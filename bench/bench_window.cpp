// Times the main window on an installation of realistic size, as a user
// meets it: the start to a shown window, Return in the search field to a
// filtered list, and painting one full viewport of package rows. Reports
// the peak memory at the end.
//
//   bench_window [packages, default 60000]
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
// Everything happens in a sandbox: HOME and the other locations the program
// writes to point into a temporary folder.

#include "app/ZelManager.h"
#include "database/ZelManagerDatabase.h"
#include "tests/support/TestBulkPackages.h"
#include "tests/support/TestPackageDatabase.h"
#include "ui/ZelManagerPackagesPanel.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double milliseconds(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

// The processor time of this process since the previous report: a busy
// machine disturbs it less than the wall time.
double cpuSinceLastReport()
{
    static qint64 previous = 0;
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    const qint64 nanoseconds = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    const double elapsed = (nanoseconds - previous) / 1e6;
    previous = nanoseconds;
    return elapsed;
}

void report(const char *what, double value)
{
    std::printf("%-48s %9.1f ms  (cpu %7.1f ms)\n", what, value, cpuSinceLastReport());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Types text into the search field and presses Return; the time runs from
// the key press until the list has its rows and has painted them.
double search(QLineEdit *edit, QListView *view, const QString &text)
{
    edit->setText(text);
    cpuSinceLastReport();
    QElapsedTimer timer;
    timer.start();
    QTest::keyClick(edit, Qt::Key_Return);
    view->model()->rowCount();
    view->viewport()->repaint();
    return milliseconds(timer);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 60000;
    TestPackageDatabase fixture;
    TestBulkPackages::fill(fixture, count);
    // States are computed once, as after the last repository update; the
    // window then opens the files afresh, as at a start.
    TestPackageDatabase::refresh(fixture.open());
    ZelManagerDatabase::cleanup();

    QElapsedTimer timer;
    cpuSinceLastReport();
    timer.start();
    auto *window = new ZelManager;
    window->resize(1400, 900);
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return 1;
    QApplication::processEvents();
    report("start to shown main window", milliseconds(timer));
    std::printf("%d packages\n", ZelManagerDatabase::instance()->packages().size());

    // The packages panel (the update panel has a list of the same name), as
    // a click on a category shows it; the time runs to its painted list.
    cpuSinceLastReport();
    timer.restart();
    window->onShowPackagesPanelRequest(QString(), QStringList());
    auto *panel = window->findChild<ZelManagerPackagesPanel *>();
    auto *edit = window->findChild<QLineEdit *>(QStringLiteral("filterEdit"));
    auto *view = panel->findChild<QListView *>(QStringLiteral("packageListView"));
    view->model()->rowCount();
    view->viewport()->repaint();
    report("packages panel shown, its list painted", milliseconds(timer));
    // The list joins the texts it searches a moment after it was loaded;
    // a user takes longer than that to type the first search.
    QTest::qWait(500);
    // In every order the sort menu offers, chosen as a user chooses it.
    const QString searches[] = { QStringLiteral("gtk"), QStringLiteral("mingw-glib"), QStringLiteral("python"),
        QStringLiteral("e"), QStringLiteral("gtk"), QString() };
    const char *const orders[][2]
        = { { "sortByNameAction", "" }, { "sortByDateAction", ", by date" }, { "sortByStatusAction", ", by status" } };
    for (const auto &order : orders) {
        panel->findChild<QAction *>(QLatin1String(order[0]))->setChecked(true);
        for (const QString &text : searches) {
            const QByteArray what = "Return in search \"" + text.toUtf8() + "\"" + order[1] + " to list";
            report(what.constData(), search(edit, view, text));
            std::printf("  %d rows\n", view->model()->rowCount());
        }
    }
    panel->findChild<QAction *>(QStringLiteral("sortByNameAction"))->setChecked(true);

    const int rows = view->viewport()->height() / std::max(1, view->sizeHintForRow(0));
    std::vector<double> paints;
    cpuSinceLastReport();
    for (int run = 0; run < 21; ++run) {
        timer.restart();
        view->viewport()->repaint();
        paints.push_back(milliseconds(timer));
    }
    std::printf("viewport %dx%d, %d rows\n", view->viewport()->width(), view->viewport()->height(), rows);
    report("paint one viewport, first (cpu: all 21)", paints.front());
    report("paint one viewport, median of 21", median(paints));

    cpuSinceLastReport();
    timer.restart();
    delete window;
    report("close (geometry, triggers, database)", milliseconds(timer));

    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory (max RSS)                        %9.1f MB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
