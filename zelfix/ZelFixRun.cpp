#include "zelfix/ZelFixRun.h"

#include "zelfix/ZelFixRelocator.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char ConfigFile[] = "etc/zelfixrc";
const char OwnProgram[] = "bin/zelfix.exe";

fs::path pathOf(const std::string &folder, const std::string &relativePath)
{
    return fs::u8path(folder) / fs::u8path(relativePath);
}

bool readWhole(const fs::path &path, std::string *data)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream buffer;
    buffer << file.rdbuf();
    if (file.bad())
        return false;
    *data = buffer.str();
    return true;
}

// Same size as before, so the file is overwritten in place.
bool writeWhole(const fs::path &path, const std::string &data)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file)
        return false;
    file.write(data.data(), std::streamsize(data.size()));
    file.flush();
    return bool(file);
}

} // namespace

ZelFixRun::ZelFixRun(std::ostream &out, std::ostream &err)
    : m_out(out)
    , m_err(err)
{
}

std::string ZelFixRun::normalizedFolder(std::string folder)
{
    folder = ZelFixConfig::trimmed(folder);
    std::replace(folder.begin(), folder.end(), '\\', '/');
    const bool driveRoot = folder.size() == 3 && folder[1] == ':';
    while (folder.size() > 1 && folder.back() == '/' && !driveRoot)
        folder.pop_back();
    return folder;
}

int ZelFixRun::run(const std::vector<std::string> &arguments, const std::string &folder)
{
    m_changedFiles = m_relocations = m_excludedFiles = 0;
    std::string argument;
    for (const std::string &word : arguments)
        argument += (argument.empty() ? "" : " ") + word;
    argument = normalizedFolder(argument);
    if (argument.empty()) {
        m_err << "Usage: bin/zelfix.exe OLD_FOLDER\n"
                 "Run it in the folder a green package was unpacked into, with the folder the package\n"
                 "was made from (as its readme.txt says). It fixes the files to fit the new folder.\n";
        return Refused;
    }
    const std::string newFolder = normalizedFolder(folder);
    const std::string configFile = pathOf(newFolder, ConfigFile).u8string();
    if (!m_config.read(configFile)) {
        m_err << "zelfix: can not read " << ConfigFile << " in " << newFolder
              << ".\nRun zelfix in the folder the green package was unpacked into.\n";
        return Refused;
    }
    const std::vector<std::string> olds = oldFolders(argument);
    if (refuses(olds, newFolder))
        return Refused;
    for (const std::string &old : olds) {
        if (old != newFolder)
            m_out << "zelfix: relocating " << old << " to " << newFolder << "\n";
    }
    std::size_t failed = 0;
    for (const std::string &file : filesToFix(newFolder)) {
        if (!fixFile(newFolder, file, olds, newFolder))
            ++failed;
    }
    if (failed == 0 && m_config.prefix() != newFolder && !updatePrefix(configFile, newFolder))
        ++failed;
    m_out << "zelfix: " << m_changedFiles << " files fixed (" << m_relocations << " paths relocated), "
          << m_excludedFiles << " files excluded";
    if (failed > 0)
        m_out << ", " << failed << " files failed";
    m_out << ".\n";
    return failed > 0 ? FilesFailed : Success;
}

// Longest first, so that a form inside a longer one does not break it.
std::vector<std::string> ZelFixRun::oldFolders(const std::string &argument) const
{
    std::vector<std::string> olds { argument };
    const std::string prefix = normalizedFolder(m_config.prefix());
    if (!prefix.empty() && prefix != argument)
        olds.push_back(prefix);
    std::stable_sort(
        olds.begin(), olds.end(), [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    return olds;
}

bool ZelFixRun::refuses(const std::vector<std::string> &oldFolders, const std::string &newFolder)
{
    for (const std::string &old : oldFolders) {
        if (newFolder.size() <= old.size())
            continue;
        m_err << "zelfix: the folder " << newFolder << " (" << newFolder.size()
              << " characters) is longer than the old folder " << old << " (" << old.size()
              << " characters).\nFiles are fixed in place and can only take a folder name that is not longer. "
                 "Nothing was changed.\nMove the package to a folder with a shorter path, for example in the root "
                 "of a drive, and run zelfix there.\n";
        return true;
    }
    return false;
}

// Regular files below folder, relative with "/" separators, sorted; links
// are not followed.
std::vector<std::string> ZelFixRun::filesToFix(const std::string &folder)
{
    std::vector<std::string> files;
    std::error_code error;
    const fs::path root = fs::u8path(folder);
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_symlink(error) || !it->is_regular_file(error))
            continue;
        const std::string relative = it->path().lexically_relative(root).generic_u8string();
        if (relative == ConfigFile || relative == OwnProgram)
            continue;
        if (m_config.isExcluded(relative)) {
            ++m_excludedFiles;
            continue;
        }
        files.push_back(relative);
    }
    if (error)
        m_err << "zelfix: can not list the files of " << folder << ": " << error.message() << "\n";
    std::sort(files.begin(), files.end());
    return files;
}

bool ZelFixRun::fixFile(const std::string &folder, const std::string &relativePath,
    const std::vector<std::string> &oldFolders, const std::string &newFolder)
{
    const fs::path path = pathOf(folder, relativePath);
    std::string data;
    if (!readWhole(path, &data)) {
        m_err << "zelfix: can not read " << relativePath << "\n";
        return false;
    }
    std::size_t count = 0;
    for (const std::string &old : oldFolders) {
        if (old != newFolder)
            count += ZelFixRelocator::relocate(data, old, newFolder);
    }
    if (count == 0)
        return true;
    // The files keep their times: only the folder inside them changed.
    std::error_code error;
    const fs::file_time_type modified = fs::last_write_time(path, error);
    if (!writeWhole(path, data)) {
        m_err << "zelfix: can not write " << relativePath << "\n";
        return false;
    }
    if (!error)
        fs::last_write_time(path, modified, error);
    ++m_changedFiles;
    m_relocations += count;
    m_out << "  fixed " << relativePath << " (" << count << (count == 1 ? " path" : " paths") << ")\n";
    return true;
}

bool ZelFixRun::updatePrefix(const std::string &configFile, const std::string &newFolder)
{
    std::string text;
    const fs::path path = fs::u8path(configFile);
    if (!readWhole(path, &text)) {
        m_err << "zelfix: can not read " << ConfigFile << "\n";
        return false;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << ZelFixConfig::withPrefix(text, newFolder);
    file.flush();
    if (!file) {
        m_err << "zelfix: can not write " << ConfigFile << "\n";
        return false;
    }
    m_out << "  " << ConfigFile << ": prefix=" << newFolder << "\n";
    return true;
}
