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
#include "database/ZelManagerSqlStatement.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestPackageDatabase.h"
#include "ui/ZelManagerCategoryModel.h"
#include "ui/ZelManagerOperationModel.h"
#include "ui/ZelManagerPackageFilterModel.h"
#include "ui/ZelManagerPackageModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const char *const Words[] = { "lib", "gtk", "qt", "python", "perl", "mingw", "zlib", "xml", "font", "icon", "audio",
    "video", "image", "net", "ssl", "sql", "tcl", "boost", "curl", "glib" };
const char *const Categories[] = { "libraries", "development/compilers", "development/debuggers", "multimedia/image",
    "multimedia/audio", "internet", "utilities", "editors", "lookandfeel/icons", "system" };

template <typename T, size_t N> const T &pick(const T (&values)[N], QRandomGenerator &random)
{
    return values[random.bounded(int(N))];
}

// count offered packages with a description, a category and a build time;
// one in ten installed, one in fifty with a request, one in a hundred
// bookmarked.
void fill(TestPackageDatabase &fixture, int count)
{
    QRandomGenerator random(20240611);
    TestDatabaseFile repository(fixture.repositoryFile(), TestDatabaseFile::Repository);
    TestDatabaseFile status(fixture.statusFile(), TestDatabaseFile::Status);
    repository.exec(QStringLiteral("begin transaction;"));
    status.exec(QStringLiteral("begin transaction;"));
    ZelManagerSqlStatement info(repository.handle(), "INSERT INTO infos VALUES(?,?,?);");
    ZelManagerSqlStatement category(repository.handle(), "INSERT INTO categories VALUES(?,?);");
    ZelManagerSqlStatement file(repository.handle(), "INSERT INTO filenames VALUES(?,?,'win32',?,?);");
    ZelManagerSqlStatement state(status.handle(), "INSERT INTO status VALUES(?,?,'','');");
    ZelManagerSqlStatement installed(status.handle(), "INSERT INTO infos VALUES(?,?,'','1.0','','','','','','','');");
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("%1-%2%3")
                                 .arg(QLatin1String(pick(Words, random)), QLatin1String(pick(Words, random)))
                                 .arg(i);
        const QString description
            = QStringLiteral("The %1 package: %2 bindings and tools for %3 support")
                  .arg(name, QLatin1String(pick(Words, random)), QLatin1String(pick(Words, random)));
        info.bind(1, name).bind(2, QStringLiteral("Maintainer <m@example.org>")).bind(3, description).exec();
        category.bind(1, QLatin1String(pick(Categories, random))).bind(2, name).exec();
        file.bind(1, name)
            .bind(2, QStringLiteral("1.%1").arg(random.bounded(20)))
            .bind(3, qint64(random.bounded(1000000)));
        file.bind(4, QStringLiteral("0123456789abcdef0123456789abcdef")).exec();
        int flags = 0;
        if (i % 10 == 0) {
            flags |= ZelManagerPackage::FlagInstalled;
            installed.bind(1, name).bind(2, qint64(random.bounded(1000000))).exec();
        }
        if (i % 50 == 1)
            flags |= ZelManagerPackage::RequestInstall;
        if (i % 100 == 2)
            flags |= ZelManagerPackage::FlagBookmarked;
        if (flags)
            state.bind(1, name).bind(2, qint64(flags)).exec();
    }
    repository.exec(QStringLiteral("end transaction;"));
    status.exec(QStringLiteral("end transaction;"));
}

// The proxy whose rows the figures include.

QAbstractItemModel *shown = nullptr;

// The slowest of three runs of action, each after an untimed prepare, in
// milliseconds.
double worst(const std::function<void()> &prepare, const std::function<void()> &action)
{
    qint64 slowest = 0;
    for (int run = 0; run < 3; ++run) {
        prepare();
        if (shown)
            shown->rowCount();
        QElapsedTimer timer;
        timer.start();
        action();
        // A view asks at once; the proxy builds its mapping lazily.
        if (shown)
            shown->rowCount();
        slowest = std::max(slowest, timer.nsecsElapsed());
    }
    return slowest / 1e6;
}

double worst(const std::function<void()> &action)
{
    return worst([]() {}, action);
}

void report(const char *what, double milliseconds)
{
    std::printf("%-44s %9.1f ms\n", what, milliseconds);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 60000;
    TestPackageDatabase fixture;
    QElapsedTimer timer;
    timer.start();
    fill(fixture, count);
    ZelManagerDatabase *database = fixture.open();
    TestPackageDatabase::refresh(database);
    std::printf("%d packages; database filled and opened in %.0f ms\n", database->packages().size(),
        timer.nsecsElapsed() / 1e6);

    ZelManagerPackageModel packages;
    report("package model reload", worst([&packages]() { packages.onPackagesChanged(); }));
    ZelManagerCategoryModel categories;
    report("category model, top level", worst([&categories]() { categories.setPath(QStringList()); }));

    ZelManagerPackageFilterModel filter;
    filter.setSourceModel(&packages);
    shown = &filter;
    std::printf("%d rows shown\n", filter.rowCount());

    const QStringList searches = { QStringLiteral("lib"), QStringLiteral("Python"), QStringLiteral("mingw-glib"),
        QStringLiteral("no such text") };
    for (int mode : { 0, 1 }) {
        filter.setSortMode(mode);
        const QByteArray order = mode ? " (sorted by date)" : "";
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
