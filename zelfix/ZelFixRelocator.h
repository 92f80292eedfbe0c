#ifndef ZELFIXRELOCATOR_H
#define ZELFIXRELOCATOR_H

#include <cstddef>
#include <string>

// Relocates a folder inside file data in place, the data keeping its size,
// with the same rule as the package installer uses for the build prefix:
// every occurrence of the old folder becomes the new one, the rest of the
// path (up to a control byte, DEL, a space or the end of the data; bytes of
// 0x80 and above belong to the path) follows the new folder directly, and
// the bytes it leaves free become spaces when the path ended at a TAB, LF,
// CR or space, else zero bytes. Text files keep their line layout, binaries
// keep their strings zero-terminated.
class ZelFixRelocator
{
public:
    // Whether the data can be relocated in place: the new folder is not empty
    // and not longer than the old one.
    static bool canRelocate(const std::string &oldFolder, const std::string &newFolder);
    // Returns the number of occurrences relocated (0 when it cannot relocate).
    static std::size_t relocate(
        char *data, std::size_t size, const std::string &oldFolder, const std::string &newFolder);
    static std::size_t relocate(std::string &data, const std::string &oldFolder, const std::string &newFolder);
};

#endif // ZELFIXRELOCATOR_H
