#include "tests/support/TestBulkPackages.h"

#include "database/ZelManagerPackage.h"
#include "database/ZelManagerSqlStatement.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestPackageDatabase.h"

#include <QRandomGenerator>

namespace {

const char *const Words[] = { "lib", "gtk", "qt", "python", "perl", "mingw", "zlib", "xml", "font", "icon", "audio",
    "video", "image", "net", "ssl", "sql", "tcl", "boost", "curl", "glib" };
const char *const Categories[] = { "libraries", "development/compilers", "development/debuggers", "multimedia/image",
    "multimedia/audio", "internet", "utilities", "editors", "lookandfeel/icons", "system" };

template <typename T, size_t N> const T &pick(const T (&values)[N], QRandomGenerator &random)
{
    return values[random.bounded(int(N))];
}

} // namespace

void TestBulkPackages::fill(TestPackageDatabase &fixture, int count)
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
