#ifndef FUZZFILEGUARD_H
#define FUZZFILEGUARD_H

#include <string>
#include <vector>

// Watches every change the process makes to the file system (open for
// writing, create, remove, rename, link, time and mode changes) through the
// C library functions that Qt, SQLite and libarchive call. While armed, a
// change outside the allowed folders aborts the process with the path; the
// main thread and the other threads may have different folders (an
// installer's unpacking thread writes only below its target). fsync() and
// fdatasync() return at once.
class FuzzFileGuard
{
public:
    // Folders must be absolute and clean; set them only while disarmed.
    static void setFolders(const std::vector<std::string> &mainThread, const std::vector<std::string> &workers);
    static void arm();
    static void disarm();
    // The allowed-folder rule for one change, called by the interposers.
    static void check(const char *operation, int directory, const char *path);
};

#endif // FUZZFILEGUARD_H
