#ifndef ZELFIXCONFIG_H
#define ZELFIXCONFIG_H

#include <set>
#include <string>
#include <vector>

// The fix-up configuration "etc/zelfixrc" of an installation folder: the
// folder that was written into the installed files (its short form) and the
// files, folders and file-name suffixes that a fix-up leaves alone.
//
// The format: the section headers "[settings]", "[exclude-files]",
// "[exclude-folders]" and "[exclude-suffixes]" on lines of their own
// (compared exactly); in "[settings]" the line "prefix=FOLDER"; in each
// exclude section lines "N=ENTRY" whose entry is the text after the first
// "=", trimmed. Lines before any header are ignored.
class ZelFixConfig
{
public:
    // False when the text could not be read; the sets then stay empty.
    bool read(const std::string &fileName);
    void parse(const std::string &text);

    const std::string &prefix() const { return m_prefix; }
    const std::set<std::string> &excludedFiles() const { return m_files; }
    const std::set<std::string> &excludedFolders() const { return m_folders; }
    const std::set<std::string> &excludedSuffixes() const { return m_suffixes; }

    // Whether a file, given relative to the installation folder with "/"
    // separators, is left alone: it is listed, lies below a listed folder, or
    // its name ends in a listed suffix (letter case aside, as on Windows).
    bool isExcluded(const std::string &relativePath) const;

    // The text with the "prefix=" line of "[settings]" set to folder (the
    // section and the line are added when missing); everything else as it was.
    static std::string withPrefix(const std::string &text, const std::string &folder);

    static std::string trimmed(const std::string &text);

private:
    std::string m_prefix;
    std::set<std::string> m_files;
    std::set<std::string> m_folders;
    std::set<std::string> m_suffixes;
};

#endif // ZELFIXCONFIG_H
