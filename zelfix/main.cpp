// zelfix: makes the files of an unpacked green package fit the folder they
// were unpacked into. Standard C++ only, so that it runs on a bare machine.

#include "zelfix/ZelFixRun.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>

namespace {

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &result[0], size, nullptr, nullptr);
    return result;
}

// The folder in its short (8.3) form when that is shorter: the installer
// writes short forms too, and a shorter folder fits more old ones.
std::string currentFolder()
{
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    std::string folder = current.generic_u8string();
    const DWORD size = GetShortPathNameW(current.c_str(), nullptr, 0);
    if (size > 0) {
        std::wstring shortName(size, L'\0');
        const DWORD length = GetShortPathNameW(current.c_str(), &shortName[0], size);
        shortName.resize(length);
        const std::string candidate = std::filesystem::path(shortName).generic_u8string();
        if (length > 0 && candidate.size() < folder.size())
            folder = candidate;
    }
    return folder;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(utf8(argv[i]));
    ZelFixRun run(std::cout, std::cerr);
    return run.run(arguments, currentFolder());
}

#else

int main(int argc, char **argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::error_code error;
    const std::string folder = std::filesystem::current_path(error).generic_u8string();
    if (error) {
        std::cerr << "zelfix: can not tell the current folder: " << error.message() << "\n";
        return ZelFixRun::Refused;
    }
    ZelFixRun run(std::cout, std::cerr);
    return run.run(arguments, folder);
}

#endif
