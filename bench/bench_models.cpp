// Times the package list on an installation of realistic size: every
// figure is one user action on the packages panel (search text, show
// filter, sort mode) applied to the filter proxy over the package model,
// together with the models' loads.
//
//   bench_models [packages, default 60000]
//
// Everything happens in a sandbox: HOME and the other locations the program
// writes to point into a temporary folder.

#include "database/ZelManagerDatabase.h"
#include "tests/support/TestBulkPackages.h"
#include "tests/support/TestPackageDatabase.h"
#include "ui/ZelManagerCategoryModel.h"
#include "ui/ZelManagerOperationModel.h"
#include "ui/ZelManagerPackageFilterModel.h"
#include "ui/ZelManagerPackageModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

// The proxy whose rows the figures include.
QAbstractItemModel *shown = nullptr;

// The processor time of this process, which a busy machine disturbs less
// than the wall time.
qint64 cpuNanoseconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The slowest processor time of the runs.
double slowestCpu = 0;

// The slowest of three runs of action, each after an untimed prepare, in
// milliseconds; slowestCpu the slowest of their processor times.
double worst(const std::function<void()> &prepare, const std::function<void()> &action)
{
    qint64 slowest = 0;
    qint64 slowestCpuTime = 0;
    for (int run = 0; run < 3; ++run) {
        prepare();
        if (shown)
            shown->rowCount();
        QElapsedTimer timer;
        timer.start();
        const qint64 cpu = cpuNanoseconds();
        action();
        // A view asks at once; the proxy builds its mapping lazily.
        if (shown)
            shown->rowCount();
        slowest = std::max(slowest, timer.nsecsElapsed());
        slowestCpuTime = std::max(slowestCpuTime, cpuNanoseconds() - cpu);
    }
    slowestCpu = slowestCpuTime / 1e6;
    return slowest / 1e6;
}

double worst(const std::function<void()> &action)
{
    return worst([]() {}, action);
}

void report(const char *what, double milliseconds)
{
    std::printf("%-44s %9.1f ms  (cpu %7.1f ms)\n", what, milliseconds, slowestCpu);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 60000;
    TestPackageDatabase fixture;
    QElapsedTimer timer;
    timer.start();
    TestBulkPackages::fill(fixture, count);
    ZelManagerDatabase *database = fixture.open();
    TestPackageDatabase::refresh(database);
    std::printf("%d packages; database filled and opened in %.0f ms\n", database->packages().size(),
        timer.nsecsElapsed() / 1e6);

    ZelManagerPackageModel packages;
    report("package model reload (same names)", worst([&packages]() { packages.onPackagesChanged(); }));
    ZelManagerCategoryModel categories;
    report("category model, top level", worst([&categories]() { categories.setPath(QStringList()); }));

    ZelManagerPackageFilterModel filter;
    filter.setSourceModel(&packages);
    shown = &filter;
    std::printf("%d rows shown\n", filter.rowCount());
    // The list joins the texts it searches a moment after it was loaded, as
    // its timer does in the window; a user takes longer than that to type.
    report("joining the searched texts (after a load)", worst([&filter]() { filter.onCorpusTimerTimeout(); }));

    // From a text nearly every row holds to one none holds, in every sort
    // order the list offers.
    const QStringList searches = { QStringLiteral("e"), QStringLiteral("lib"), QStringLiteral("Python"),
        QStringLiteral("mingw-glib"), QStringLiteral("no such text") };
    const char *const orders[] = { "", " (sorted by date)", " (sorted by status)" };
    for (int mode : { 0, 1, 2 }) {
        filter.setSortMode(mode);
        const QByteArray order = orders[mode];
        for (const QString &text : searches) {
            const QByteArray what = "search \"" + text.toUtf8() + "\"" + order;
            report(what.constData(),
                worst([&filter]() { filter.setSearchText(QString()); },
                    [&filter, &text]() { filter.setSearchText(text); }));
        }
        const QByteArray what = "search cleared" + order;
        report(what.constData(),
            worst([&filter]() { filter.setSearchText(QStringLiteral("lib")); },
                [&filter]() { filter.setSearchText(QString()); }));
    }
    filter.setSortMode(0);
    const int filters[] = { 0x1f00, 0x4, 0x2, 0x8, 0x2000, 0x800, 0x300, 0x100, 0x500 };
    for (int value : filters) {
        const QByteArray what = "show filter 0x" + QByteArray::number(value, 16);
        report(what.constData(),
            worst([&filter]() { filter.setShowFilter(0); }, [&filter, value]() { filter.setShowFilter(value); }));
    }
    report("show filter back to all",
        worst([&filter]() { filter.setShowFilter(0x8); }, [&filter]() { filter.setShowFilter(0); }));
    const char *const modes[] = { "sort by name", "sort by date", "sort by status" };
    for (int mode : { 1, 2, 0 }) {
        report(modes[mode],
            worst([&filter, mode]() { filter.setSortMode(mode == 1 ? 2 : 1); },
                [&filter, mode]() { filter.setSortMode(mode); }));
    }
    filter.setSortMode(1);
    // The first pass after a load numbers the rows by category; later ones
    // only read those numbers.
    report("category filter, first after a load",
        worst(
            [&filter]() {
                filter.setCategories(QStringList());
                ZelManagerDatabase::instance()->reloadPackages();
            },
            [&filter]() { filter.setCategories({ QStringLiteral("multimedia") }); }));
    report("category filter (sorted by date)",
        worst([&filter]() { filter.setCategories(QStringList()); },
            [&filter]() { filter.setCategories({ QStringLiteral("multimedia") }); }));
    filter.setCategories(QStringList());

    shown = nullptr;
    ZelManagerOperationModel operations;
    report("operation model refresh (all requests)", worst([&operations]() { operations.refresh(); }));
    std::printf("%d requested packages\n", operations.rowCount());
    return 0;
}
