#include "zelfix/ZelFixConfig.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace {

const char SettingsHeader[] = "[settings]";
const char FilesHeader[] = "[exclude-files]";
const char FoldersHeader[] = "[exclude-folders]";
const char SuffixesHeader[] = "[exclude-suffixes]";
const char PrefixKey[] = "prefix";

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool isHeader(const std::string &line)
{
    return line == SettingsHeader || line == FilesHeader || line == FoldersHeader || line == SuffixesHeader;
}

bool endsWithIgnoringCase(const std::string &text, const std::string &suffix)
{
    if (suffix.size() > text.size())
        return false;
    return std::equal(suffix.rbegin(), suffix.rend(), text.rbegin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

} // namespace

std::string ZelFixConfig::trimmed(const std::string &text)
{
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

bool ZelFixConfig::read(const std::string &fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream text;
    text << file.rdbuf();
    parse(text.str());
    return true;
}

void ZelFixConfig::parse(const std::string &text)
{
    std::set<std::string> *section = nullptr;
    bool inSettings = false;
    for (const std::string &line : splitLines(text)) {
        if (isHeader(line)) {
            inSettings = line == SettingsHeader;
            section = line == FilesHeader ? &m_files
                : line == FoldersHeader   ? &m_folders
                : line == SuffixesHeader  ? &m_suffixes
                                          : nullptr;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0)
            continue;
        const std::string value = trimmed(line.substr(equals + 1));
        if (section && !value.empty())
            section->insert(value);
        else if (inSettings && trimmed(line.substr(0, equals)) == PrefixKey)
            m_prefix = value;
    }
}

bool ZelFixConfig::isExcluded(const std::string &relativePath) const
{
    if (m_files.count(relativePath))
        return true;
    for (const std::string &folder : m_folders) {
        if (relativePath.size() > folder.size() && relativePath.compare(0, folder.size(), folder) == 0
            && relativePath[folder.size()] == '/')
            return true;
    }
    const std::string name = relativePath.substr(relativePath.rfind('/') + 1);
    return std::any_of(m_suffixes.begin(), m_suffixes.end(),
        [&name](const std::string &suffix) { return endsWithIgnoringCase(name, suffix); });
}

std::string ZelFixConfig::withPrefix(const std::string &text, const std::string &folder)
{
    std::vector<std::string> lines = splitLines(text);
    bool inSettings = false;
    std::size_t settingsAt = lines.size();
    bool replaced = false;
    for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
        if (isHeader(lines[i])) {
            inSettings = lines[i] == SettingsHeader;
            if (inSettings)
                settingsAt = i;
            continue;
        }
        const std::size_t equals = lines[i].find('=');
        if (inSettings && equals != std::string::npos && equals > 0
            && trimmed(lines[i].substr(0, equals)) == PrefixKey) {
            lines[i] = std::string(PrefixKey) + "=" + folder;
            replaced = true;
        }
    }
    if (!replaced) {
        if (settingsAt == lines.size()) {
            lines.insert(lines.begin(), { SettingsHeader, std::string(PrefixKey) + "=" + folder, std::string() });
        } else {
            lines.insert(lines.begin() + std::ptrdiff_t(settingsAt) + 1, std::string(PrefixKey) + "=" + folder);
        }
    }
    std::string result;
    for (const std::string &line : lines)
        result += line + "\n";
    return result;
}
