#include "zelfix/ZelFixRelocator.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

bool endsPath(unsigned char c)
{
    return c < 0x20 || c == 0x7f || c == ' ';
}

bool isBlank(unsigned char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

} // namespace

bool ZelFixRelocator::canRelocate(const std::string &oldFolder, const std::string &newFolder)
{
    return !newFolder.empty() && newFolder.size() <= oldFolder.size();
}

std::size_t ZelFixRelocator::relocate(
    char *data, std::size_t size, const std::string &oldFolder, const std::string &newFolder)
{
    if (!canRelocate(oldFolder, newFolder))
        return 0;
    const std::size_t gap = oldFolder.size() - newFolder.size();
    const std::boyer_moore_horspool_searcher<std::string::const_iterator> searcher(oldFolder.begin(), oldFolder.end());
    std::size_t count = 0;
    char *const end = data + size;
    char *from = data;
    while (true) {
        char *at = std::search(from, end, searcher);
        if (at == end)
            break;
        char *tail = at + oldFolder.size();
        char *pathEnd = std::find_if(tail, end, [](char c) { return endsPath(static_cast<unsigned char>(c)); });
        std::memcpy(at, newFolder.data(), newFolder.size());
        std::memmove(at + newFolder.size(), tail, std::size_t(pathEnd - tail));
        const char filler = pathEnd < end && isBlank(static_cast<unsigned char>(*pathEnd)) ? ' ' : '\0';
        std::memset(pathEnd - gap, filler, gap);
        ++count;
        from = at + newFolder.size();
    }
    return count;
}

std::size_t ZelFixRelocator::relocate(std::string &data, const std::string &oldFolder, const std::string &newFolder)
{
    return relocate(&data[0], data.size(), oldFolder, newFolder);
}
