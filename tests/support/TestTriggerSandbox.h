#ifndef TESTTRIGGERSANDBOX_H
#define TESTTRIGGERSANDBOX_H

#include "tests/support/TestSandbox.h"

// A sandbox whose installation folder exists and whose triggers are created;
// the triggers and the settings go before the folder does.
class TestTriggerSandbox : public TestSandbox
{
public:
    TestTriggerSandbox();
    ~TestTriggerSandbox();
};

#endif // TESTTRIGGERSANDBOX_H
