#include "database/ZelManagerCategory.h"
#include "database/ZelManagerDatabase.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestPackageDatabase.h"
#include "ui/ZelManagerCategoryModel.h"
#include "ui/ZelManagerPackageFilterModel.h"
#include "ui/ZelManagerPackageModel.h"
#include "ui/ZelManagerRepositoryModel.h"
#include "ui/ZelManagerUpdateFilterModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTranslator>
#include <QtTest>

namespace {

// A catalogue for the context "Category" only, as the program's own
// translations provide it.
class CategoryTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "Category") != 0)
            return QString();
        if (qstrcmp(sourceText, "multimedia") == 0)
            return QStringLiteral("Multimédia");
        if (qstrcmp(sourceText, "development") == 0)
            return QStringLiteral("Développement");
        return QString();
    }
    bool isEmpty() const override { return false; }
};

QStringList column(const QAbstractItemModel &model, int role = Qt::EditRole)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.index(row, 0).data(role).toString());
    return values;
}

struct Offer
{
    QString name;
    int flags;
    QString description;
    QStringList categories;
    qint64 time;
};

// Status rows with the given flags (kept as stored: the tests do not
// refresh) and one offered version each, which gives the description,
// categories and build time.
void writePackages(TestPackageDatabase &fixture, const QList<Offer> &offers)
{
    TestDatabaseFile status(fixture.statusFile(), TestDatabaseFile::Status);
    TestDatabaseFile repository(fixture.repositoryFile(), TestDatabaseFile::Repository);
    for (const Offer &offer : offers) {
        status.addStatus(offer.name, offer.flags);
        repository.addRepositoryPackage(offer.name, QString(), offer.description, offer.categories);
        repository.addRepositoryFile(offer.name, QStringLiteral("1.0"), QStringLiteral("win32"), offer.time);
    }
}

// Packages with the given flags, no description nor category, built at time 1.
void writePlain(TestPackageDatabase &fixture, const QList<QPair<QString, int>> &packages)
{
    QList<Offer> offers;
    for (const auto &package : packages)
        offers.append({ package.first, package.second, QString(), {}, 1 });
    writePackages(fixture, offers);
}

// The package model behind a filter proxy, both checked by the model tester.
struct Filtered
{
    explicit Filtered(QAbstractProxyModel *proxy)
        : model(proxy)
    {
        proxy->setSourceModel(&packages);
    }
    ZelManagerPackageModel packages;
    QAbstractProxyModel *model;
    QAbstractItemModelTester tester { model, QAbstractItemModelTester::FailureReportingMode::QtTest };
};

void writeCategories(TestPackageDatabase &fixture, const QStringList &categories)
{
    TestDatabaseFile repository(fixture.repositoryFile(), TestDatabaseFile::Repository);
    repository.exec(QStringLiteral("DELETE FROM categories;"));
    for (const QString &category : categories)
        repository.exec(QStringLiteral("INSERT INTO categories VALUES(?,'p');"), { category });
}

} // namespace

class TestModels : public QObject
{
    Q_OBJECT

private slots:
    void categoryLevels();
    void categoryStaysOnDeepestExistingLevel();

    void packageModelFollowsTheDatabase();
    void showFilter_data();
    void showFilter();
    void searchIsCaseSensitive();
    void categoryFilter();
    void sortModes();
    void sortedSearchKeepsPlainSortOrder();

    void repositoryModel();
    void updateFilter();
};

void TestModels::categoryLevels()
{
    TestPackageDatabase fixture;
    writeCategories(fixture,
        { QStringLiteral("development/tools"), QStringLiteral("development"), QStringLiteral("multimedia"),
            QStringLiteral("development/libraries/c"), QStringLiteral("a//b") });
    {
        TestDatabaseFile status(fixture.statusFile(), TestDatabaseFile::Status);
        status.exec(QStringLiteral("INSERT INTO categories VALUES('Zed','installed');"));
    }
    fixture.open();
    ZelManagerCategoryModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    // Installed and offered categories together; a name that goes deeper
    // anywhere is marked, even if it is also a leaf.
    QCOMPARE(column(model),
        QStringList({ QStringLiteral("Zed"), QStringLiteral("a >"), QStringLiteral("development >"),
            QStringLiteral("multimedia") }));

    model.setPath({ QStringLiteral("development") });
    QCOMPARE(column(model), QStringList({ QString(), QStringLiteral("libraries >"), QStringLiteral("tools") }));

    // An empty middle level is an entry of its own, with an empty name.
    model.setPath({ QStringLiteral("a") });
    QCOMPARE(column(model), QStringList({ QString(), QStringLiteral(" >") }));
    model.setPath({ QStringLiteral("a"), QString() });
    QCOMPARE(column(model), QStringList({ QString(), QStringLiteral("b") }));

    CategoryTranslator translator;
    QCoreApplication::installTranslator(&translator);
    model.setPath(QStringList());
    QCOMPARE(column(model, Qt::DisplayRole),
        QStringList({ QStringLiteral("Zed"), QStringLiteral("a >"), QStringLiteral("Développement >"),
            QStringLiteral("Multimédia") }));
    QCOMPARE(model.index(2, 0).data(Qt::EditRole).toString(), QStringLiteral("development >"));
    // Levels are looked up in lower case; unknown ones keep their capitals.
    QCOMPARE(ZelManagerCategory::displayText(QStringLiteral(" MultiMedia // Image Viewers /")),
        QStringLiteral("Multimédia/Image Viewers"));
    QCoreApplication::removeTranslator(&translator);
}

void TestModels::categoryStaysOnDeepestExistingLevel()
{
    TestPackageDatabase fixture;
    writeCategories(fixture,
        { QStringLiteral("development/tools/compilers"), QStringLiteral("development/libraries"),
            QStringLiteral("multimedia") });
    ZelManagerDatabase *database = fixture.open();
    ZelManagerCategoryModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setPath({ QStringLiteral("development"), QStringLiteral("tools") });
    QCOMPARE(column(model), QStringList({ QString(), QStringLiteral("compilers") }));

    // Still there after a reload: the view stays.
    database->reloadPackages();
    QCOMPARE(model.path(), QStringList({ QStringLiteral("development"), QStringLiteral("tools") }));

    // "tools" became a leaf: one level up.
    writeCategories(fixture, { QStringLiteral("development/tools"), QStringLiteral("development/libraries") });
    database->reloadPackages();
    QCOMPARE(model.path(), QStringList(QStringLiteral("development")));
    QCOMPARE(column(model), QStringList({ QString(), QStringLiteral("libraries"), QStringLiteral("tools") }));

    // Nothing left under "development": the top.
    writeCategories(fixture, { QStringLiteral("multimedia") });
    database->reloadPackages();
    QCOMPARE(model.path(), QStringList());
    QCOMPARE(column(model), QStringList(QStringLiteral("multimedia")));
}

void TestModels::packageModelFollowsTheDatabase()
{
    TestPackageDatabase fixture;
    writePlain(fixture, { { "zlib", 0x2 }, { "Qt", 0x2 }, { "bzip2", 0x6 } });
    ZelManagerDatabase *database = fixture.open();
    ZelManagerPackageModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // Plain string order: capitals first.
    QCOMPARE(column(model), QStringList({ "Qt", "bzip2", "zlib" }));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.updateName(QStringLiteral("none"));
    QCOMPARE(changed.count(), 0);

    // A request and its cancellation both repaint the row, once the
    // coalesced request count arrives.
    ZelManagerPackage zlib = database->package(QStringLiteral("zlib"));
    zlib.setRequest(ZelManagerPackage::RequestInstall);
    QTRY_COMPARE(changed.count(), 1);
    zlib.setRequest(0);
    QTRY_COMPARE(changed.count(), 2);
    QCOMPARE(changed.takeFirst().first().toModelIndex().row(), 2);

    // A repository update brings new names.
    {
        TestDatabaseFile repository(fixture.repositoryFile());
        repository.addRepositoryFile(QStringLiteral("expat"), QStringLiteral("2.0"), QStringLiteral("win32"), 1);
    }
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    TestPackageDatabase::refresh(database);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(column(model), QStringList({ "Qt", "bzip2", "expat", "zlib" }));
    QCOMPARE(model.rowOf(QStringLiteral("expat")), 2);
    QCOMPARE(model.rowOf(QStringLiteral("none")), -1);

    // A name that is no longer offered leaves with its row; a refresh that
    // changes no name keeps the rows on the database's records.
    {
        TestDatabaseFile repository(fixture.repositoryFile());
        repository.exec(QStringLiteral("DELETE FROM filenames WHERE package='zlib';"));
    }
    TestPackageDatabase::refresh(database);
    QCOMPARE(column(model), QStringList({ "Qt", "bzip2", "expat" }));
    QCOMPARE(model.rowOf(QStringLiteral("zlib")), -1);
    TestPackageDatabase::refresh(database);
    QCOMPARE(reset.count(), 3);
    QCOMPARE(column(model), QStringList({ "Qt", "bzip2", "expat" }));
    for (int row = 0; row < model.rowCount(); ++row)
        QVERIFY(model.package(row) == database->package(model.name(row)));
}

void TestModels::showFilter_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("show all") << 0
                              << QStringList({ "auto", "available", "bookmarked", "installed", "reinstall", "remove",
                                     "upgradable", "upgrade", "wanted" });
    QTest::newRow("requested") << 0x1f00 << QStringList({ "auto", "reinstall", "remove", "upgrade", "wanted" });
    QTest::newRow("installed") << 0x4 << QStringList({ "installed", "reinstall", "remove", "upgradable", "upgrade" });
    QTest::newRow("upgradable") << 0x8 << QStringList({ "upgradable", "upgrade" });
    QTest::newRow("remove requested") << 0x800 << QStringList({ "remove" });
    // An install request alone is not an upgrade request.
    QTest::newRow("upgrade requested") << 0x300 << QStringList({ "upgrade" });
    // Automatic requests carry 0x1000 and are not plain install requests.
    QTest::newRow("install requested") << 0x100 << QStringList({ "wanted" });
    QTest::newRow("reinstall requested") << 0x500 << QStringList({ "reinstall" });
}

void TestModels::showFilter()
{
    QFETCH(int, filter);
    QFETCH(QStringList, shown);

    TestPackageDatabase fixture;
    writePlain(fixture,
        { { "available", 0x2 }, { "installed", 0x6 }, { "upgradable", 0xE }, { "bookmarked", 0x2002 },
            { "wanted", 0x102 }, { "auto", 0x1102 }, { "upgrade", 0x30E }, { "reinstall", 0x506 },
            { "remove", 0x806 } });
    fixture.open();
    ZelManagerPackageFilterModel model;
    Filtered filtered(&model);
    model.setShowFilter(filter);
    QCOMPARE(column(model), shown);
}

void TestModels::searchIsCaseSensitive()
{
    TestPackageDatabase fixture;
    writePackages(fixture,
        { { QStringLiteral("zlib"), 0x2, QStringLiteral("compression library"), {}, 1 },
            { QStringLiteral("LibreDraw"), 0x2, QStringLiteral("vector drawing"), {}, 1 } });
    fixture.open();
    ZelManagerPackageFilterModel model;
    Filtered filtered(&model);
    model.setSearchText(QStringLiteral("lib"));
    QCOMPARE(column(model), QStringList(QStringLiteral("zlib")));
    model.setSearchText(QStringLiteral("Lib"));
    QCOMPARE(column(model), QStringList(QStringLiteral("LibreDraw")));
    model.setSearchText(QStringLiteral("drawing")); // in the description only
    QCOMPARE(column(model), QStringList(QStringLiteral("LibreDraw")));
    // A match never runs from one text into the next.
    model.setSearchText(QStringLiteral("drawingLibre"));
    QCOMPARE(model.rowCount(), 0);
    model.setSearchText(QStringLiteral("libraryLibre"));
    QCOMPARE(model.rowCount(), 0);
    model.setSearchText(QString());
    QCOMPARE(model.rowCount(), 2);

    // A reload brings new descriptions into the search.
    {
        TestDatabaseFile repository(fixture.repositoryFile(), TestDatabaseFile::Repository);
        repository.exec(QStringLiteral("UPDATE infos SET description='fast inflate' WHERE name='zlib';"));
    }
    ZelManagerDatabase::instance()->reloadPackages();
    model.setSearchText(QStringLiteral("inflate"));
    QCOMPARE(column(model), QStringList(QStringLiteral("zlib")));
}

void TestModels::categoryFilter()
{
    TestPackageDatabase fixture;
    writePackages(fixture,
        { { QStringLiteral("gcc"), 0x2, QString(), { QStringLiteral("development/compilers") }, 1 },
            { QStringLiteral("gdb"), 0x2, QString(), { QStringLiteral("/development//debuggers") }, 1 },
            { QStringLiteral("devel"), 0x2, QString(), { QStringLiteral("development") }, 1 },
            // Only the first category places a package.
            { QStringLiteral("gimp"), 0x2, QString(),
                { QStringLiteral("multimedia/image"), QStringLiteral("development") }, 1 },
            // A level is matched whole, whatever the slashes around it.
            { QStringLiteral("sdk"), 0x2, QString(), { QStringLiteral("developments/sdk") }, 1 },
            { QStringLiteral("trace"), 0x2, QString(), { QStringLiteral("development/debuggers/") }, 1 },
            { QStringLiteral("loose"), 0x2, QString(), {}, 1 } });
    fixture.open();
    ZelManagerPackageFilterModel model;
    Filtered filtered(&model);
    model.setCategories({ QStringLiteral("development") });
    QCOMPARE(column(model), QStringList({ "devel", "gcc", "gdb", "loose", "trace" }));
    model.setCategories({ QStringLiteral("development"), QStringLiteral("debuggers") });
    QCOMPARE(column(model), QStringList({ "gdb", "loose", "trace" }));
    model.setCategories({ QStringLiteral("development"), QStringLiteral("debug") });
    QCOMPARE(column(model), QStringList({ QStringLiteral("loose") }));
    model.setCategories({ QStringLiteral("multimedia") });
    QCOMPARE(column(model), QStringList({ QStringLiteral("gimp"), QStringLiteral("loose") }));

    // A reload that keeps every name still brings the new categories.
    {
        TestDatabaseFile repository(fixture.repositoryFile(), TestDatabaseFile::Repository);
        repository.exec(QStringLiteral("UPDATE categories SET category='multimedia/audio' WHERE package='gcc';"));
    }
    ZelManagerDatabase::instance()->reloadPackages();
    QCOMPARE(column(model), QStringList({ "gcc", "gimp", "loose" }));
}

void TestModels::sortModes()
{
    TestPackageDatabase fixture;
    writePackages(fixture,
        { { QStringLiteral("alpha"), 0x2, QString(), {}, 300 }, { QStringLiteral("beta"), 0x6, QString(), {}, 100 },
            { QStringLiteral("gamma"), 0x2002, QString(), {}, 200 },
            { QStringLiteral("delta"), 0x102, QString(), {}, 400 } });
    ZelManagerDatabase *database = fixture.open();
    ZelManagerPackageFilterModel model;
    Filtered filtered(&model);
    const QStringList byName({ "alpha", "beta", "delta", "gamma" });
    QCOMPARE(column(model), byName);

    model.setSortMode(ZelManagerPackageFilterModel::SortByDate); // newest first
    QCOMPARE(column(model), QStringList({ "delta", "alpha", "gamma", "beta" }));
    model.setSortMode(ZelManagerPackageFilterModel::SortByStatus); // larger flags first
    QCOMPARE(column(model), QStringList({ "gamma", "delta", "beta", "alpha" }));
    // A new request sorts and filters again by the new flags.
    database->package(QStringLiteral("alpha")).setRequest(ZelManagerPackage::RequestRemove);
    QTRY_COMPARE(column(model), QStringList({ "gamma", "alpha", "delta", "beta" }));
    model.setShowFilter(0x1f00);
    QCOMPARE(column(model), QStringList({ "alpha", "delta" }));
    database->package(QStringLiteral("alpha")).setRequest(0);
    QTRY_COMPARE(column(model), QStringList({ "delta" }));
    // The order survives filtering again.
    model.setShowFilter(0x2);
    QCOMPARE(column(model), QStringList({ "gamma", "delta", "alpha" }));
    model.setShowFilter(0);
    model.setSortMode(ZelManagerPackageFilterModel::SortByName);
    QCOMPARE(column(model), byName);
    model.setSortMode(7); // the source's order
    QCOMPARE(model.sortMode(), 7);
    QCOMPARE(column(model), byName);
}

namespace {

// The rows a stable sort of the matching records gives: names in string
// order, then newest build or larger flags first.
QStringList plainSort(ZelManagerDatabase *database, int mode, Qt::SortOrder order, const QString &text, int filter)
{
    QStringList names = database->packages().keys();
    std::sort(names.begin(), names.end());
    QList<ZelManagerPackage> kept;
    for (const QString &name : qAsConst(names)) {
        const ZelManagerPackage package = database->package(name);
        if (package.matches(text, filter))
            kept.append(package);
    }
    auto key = [mode](const ZelManagerPackage &package) {
        return mode == ZelManagerPackageFilterModel::SortByDate ? package.availableTime() : qint64(package.flags());
    };
    if (mode == ZelManagerPackageFilterModel::SortByDate || mode == ZelManagerPackageFilterModel::SortByStatus) {
        std::stable_sort(kept.begin(), kept.end(), [&](const ZelManagerPackage &left, const ZelManagerPackage &right) {
            return order == Qt::AscendingOrder ? key(left) > key(right) : key(left) < key(right);
        });
    } else if (order == Qt::DescendingOrder) {
        std::reverse(kept.begin(), kept.end());
    }
    QStringList shown;
    for (const ZelManagerPackage &package : qAsConst(kept))
        shown.append(package.name());
    return shown;
}

} // namespace

void TestModels::sortedSearchKeepsPlainSortOrder()
{
    TestPackageDatabase fixture;
    const int flags[] = { 0x2, 0x6, 0xE, 0x2002, 0x102, 0x806 };
    const QString descriptions[] = { QStringLiteral("alpha tool"), QStringLiteral("beta library"), QString() };
    QList<Offer> offers;
    for (int i = 0; i < 36; ++i) {
        // Build times and flags repeat, so that equal keys are met.
        offers.append({ QStringLiteral("pkg%1").arg((i * 7) % 36, 2, 10, QLatin1Char('0')), flags[i % 6],
            descriptions[i % 3], {}, 100 + i % 5 });
    }
    writePackages(fixture, offers);
    ZelManagerDatabase *database = fixture.open();
    ZelManagerPackageFilterModel model;
    Filtered filtered(&model);
    const QString texts[]
        = { QString(), QStringLiteral("a"), QStringLiteral("pkg1"), QStringLiteral("library"), QStringLiteral("none") };
    for (Qt::SortOrder order : { Qt::AscendingOrder, Qt::DescendingOrder }) {
        for (int mode : { 0, 1, 2, 7 }) {
            model.setSortMode(mode);
            model.sort(0, order);
            for (const QString &text : texts) {
                for (int filter : { 0, 0x4, 0x1f00 }) {
                    model.setSearchText(text);
                    model.setShowFilter(filter);
                    QCOMPARE(column(model), plainSort(database, mode, order, text, filter));
                }
            }
        }
    }
    model.sort(0);
    model.setShowFilter(0);

    // A bookmark changes the flags without a signal: the next search sorts
    // by the new flags.
    model.setSortMode(ZelManagerPackageFilterModel::SortByStatus);
    model.setSearchText(QStringLiteral("pkg"));
    database->package(QStringLiteral("pkg00")).setBookmarked(true);
    model.setSearchText(QStringLiteral("p"));
    QCOMPARE(column(model),
        plainSort(database, ZelManagerPackageFilterModel::SortByStatus, Qt::AscendingOrder, QStringLiteral("p"), 0));

    // A persistent index stays on its record while it is shown, and is
    // dropped when a search hides it.
    model.setSortMode(ZelManagerPackageFilterModel::SortByDate);
    const QModelIndex first = model.index(model.rowCount() - 1, 0);
    const QString name = first.data(Qt::EditRole).toString();
    const QPersistentModelIndex kept(first);
    model.setSearchText(name);
    QCOMPARE(kept.row(), 0);
    QCOMPARE(kept.data(Qt::EditRole).toString(), name);
    model.setSearchText(QStringLiteral("none"));
    QVERIFY(!kept.isValid());
}

void TestModels::repositoryModel()
{
    const QUrl first(QStringLiteral("http://a.example.org/"));
    const QUrl second(QStringLiteral("http://m.example.org/"));
    TestPackageDatabase fixture({ second, first });
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    settings->setRepositoryEnabled(second, false);
    ZelManagerRepositoryModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(model.index(0, 0).data(ZelManagerRepositoryModel::UrlRole).toString(), first.toString());
    QCOMPARE(model.index(0, 0).data(Qt::DisplayRole).toString(), settings->repositoryLabel(first));
    QCOMPARE(model.index(1, 0).data(Qt::EditRole), QVariant(false));
    // The add row: enabled, not selectable, no data.
    QCOMPARE(model.flags(model.index(2, 0)), Qt::ItemFlags(Qt::ItemIsEnabled));
    QVERIFY(!model.index(2, 0).data(Qt::DisplayRole).isValid());
    QVERIFY(model.isAddRow(2));

    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    const QUrl middle(QStringLiteral("http://g.example.org/"));
    settings->setRepository(middle, QStringLiteral("G"), true);
    QCOMPARE(inserted.first().at(1).toInt(), 1);

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    settings->setRepositoryEnabled(middle, false);
    QCOMPARE(changed.first().first().toModelIndex().row(), 1);

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    settings->removeRepository(first);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.first().at(1).toInt(), 0);
    settings->removeRepository(first); // gone already
    QCOMPARE(removed.count(), 1);

    settings->clearRepositories();
    QCOMPARE(model.rowCount(), 1);
    QVERIFY(model.isAddRow(0));
}

void TestModels::updateFilter()
{
    TestPackageDatabase fixture;
    writePlain(fixture, { { "zeta", 0xE }, { "alpha", 0x30E }, { "kept", 0x6 }, { "new", 0x2 } });
    fixture.open();
    ZelManagerUpdateFilterModel model;
    Filtered filtered(&model);
    model.sort(0);
    QCOMPARE(column(model), QStringList({ QStringLiteral("alpha"), QStringLiteral("zeta") }));
}

QTEST_MAIN(TestModels)
#include "tst_models.moc"
