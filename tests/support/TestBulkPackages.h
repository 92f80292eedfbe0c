#ifndef TESTBULKPACKAGES_H
#define TESTBULKPACKAGES_H

class TestPackageDatabase;

// An installation of realistic size for the benchmarks, written straight
// into the fixture's files (the database is not opened).
class TestBulkPackages
{
public:
    // count offered packages with a description, a category and a build
    // time; one in ten installed, one in fifty with a request, one in a
    // hundred bookmarked. The same count always gives the same packages.
    static void fill(TestPackageDatabase &fixture, int count);
};

#endif // TESTBULKPACKAGES_H
