#ifndef SCENARIOAPPLYSTEPS_H
#define SCENARIOAPPLYSTEPS_H

// The scenario words of apply runs (tests/scenarios/README.md): the actions
// "apply", "put" and "delete", and the rules "outcome", "file", "folder",
// "recorded", "not-recorded", "error", "errors", "unfixed" and "log".
class ScenarioApplySteps
{
public:
    // Adds them to ScenarioRunner; once is enough, more is harmless.
    static void registerSteps();
};

#endif // SCENARIOAPPLYSTEPS_H
