#ifndef TESTPACKAGECATALOGUE_H
#define TESTPACKAGECATALOGUE_H

class TestPackageDatabase;
class ZelManagerDatabase;

// A small installation for the window and panel tests, written into the
// fixture's files and opened with package states computed:
// - "alpha" 1.0 offered, not installed ("development/compilers");
// - "beta" 1.0 installed, 2.0 offered: upgradable ("development/debuggers");
// - "gamma" 1.0 installed and offered, current ("utilities"), with two
//   installed files and the dependency "beta >= 1.0";
// - "broken1" … "broken3" offered, each depending on "missing-lib", which
//   no repository offers, so that an install request is refused
//   ("utilities").
class TestPackageCatalogue
{
public:
    static ZelManagerDatabase *open(TestPackageDatabase &fixture);
};

#endif // TESTPACKAGECATALOGUE_H
