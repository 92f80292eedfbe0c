#ifndef ZELFIXRUN_H
#define ZELFIXRUN_H

#include "zelfix/ZelFixConfig.h"

#include <ostream>
#include <string>
#include <vector>

// One run of the fix-up tool in an unpacked green package: every file that
// the configuration does not exclude has each occurrence of the old folder
// (the one named on the command line and the configured prefix, its short
// form) relocated in place to the folder the package now lives in. What
// changed is printed; a second run finds nothing left to change.
//
// The new folder can only be as long as the shortest old one (files keep
// their size), so a longer one is refused before any file is touched. Once
// every file is fixed, the configuration's prefix names the new folder, so
// that the package can be moved on with the new folder as the old one.
class ZelFixRun
{
public:
    enum ExitCode { Success = 0, FilesFailed = 1, Refused = 2 };

    ZelFixRun(std::ostream &out, std::ostream &err);

    // arguments: the old folder (words joined by one space, since a folder
    // with blanks may arrive unquoted); folder: where the package lives, in
    // UTF-8.
    int run(const std::vector<std::string> &arguments, const std::string &folder);

    // Backslashes made "/", a trailing "/" dropped (but not from a drive or
    // file-system root).
    static std::string normalizedFolder(std::string folder);

    // Figures of the last run.
    std::size_t changedFiles() const { return m_changedFiles; }
    std::size_t relocations() const { return m_relocations; }

private:
    std::vector<std::string> oldFolders(const std::string &argument) const;
    bool refuses(const std::vector<std::string> &oldFolders, const std::string &newFolder);
    std::vector<std::string> filesToFix(const std::string &folder);
    // Fixes one file; false when it could not be read or written.
    bool fixFile(const std::string &folder, const std::string &relativePath, const std::vector<std::string> &oldFolders,
        const std::string &newFolder);
    bool updatePrefix(const std::string &configFile, const std::string &newFolder);

    std::ostream &m_out;
    std::ostream &m_err;
    ZelFixConfig m_config;
    std::size_t m_changedFiles = 0;
    std::size_t m_relocations = 0;
    std::size_t m_excludedFiles = 0;
};

#endif // ZELFIXRUN_H
