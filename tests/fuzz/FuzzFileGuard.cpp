#include "tests/fuzz/FuzzFileGuard.h"

#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

namespace {

std::atomic<bool> s_armed { false };
pthread_t s_mainThread = pthread_self();
std::vector<std::string> s_mainFolders;
std::vector<std::string> s_workerFolders;

// "." and ".." resolved by name, "//" collapsed.
std::string cleanPath(const std::string &path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string clean;
    for (const std::string &part : parts)
        clean += "/" + part;
    return clean.empty() ? "/" : clean;
}

std::string directoryOf(int directory)
{
    char buffer[PATH_MAX];
    if (directory == AT_FDCWD)
        return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", directory);
    const ssize_t size = readlink(link, buffer, sizeof buffer - 1);
    return size > 0 ? std::string(buffer, size_t(size)) : std::string();
}

// The path as the file system will take it: relative paths below the
// folder they are relative to, and the parent folder with its links resolved,
// so that a link leading out of an allowed folder is seen.
std::string resolve(int directory, const char *path)
{
    std::string full = path[0] == '/' ? std::string(path) : directoryOf(directory) + "/" + path;
    full = cleanPath(full);
    const size_t slash = full.rfind('/');
    const std::string parent = slash == 0 ? std::string("/") : full.substr(0, slash);
    char real[PATH_MAX];
    if (realpath(parent.c_str(), real))
        full = cleanPath(std::string(real) + full.substr(slash));
    return full;
}

bool isBelow(const std::string &path, const std::vector<std::string> &folders)
{
    for (const std::string &folder : folders) {
        if (path == folder
            || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0
                && path[folder.size()] == '/'))
            return true;
    }
    return false;
}

template <typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool writes(int flags)
{
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0;
}

mode_t modeArgument(int flags, va_list arguments)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(arguments, int)) : 0;
}

} // namespace

void FuzzFileGuard::setFolders(const std::vector<std::string> &mainThread, const std::vector<std::string> &workers)
{
    s_mainFolders = mainThread;
    s_workerFolders = workers.empty() ? mainThread : workers;
}

void FuzzFileGuard::arm()
{
    s_armed.store(true);
}

void FuzzFileGuard::disarm()
{
    s_armed.store(false);
}

void FuzzFileGuard::check(const char *operation, int directory, const char *path)
{
    if (!s_armed.load() || !path || !*path)
        return;
    const std::string full = resolve(directory, path);
    const bool worker = !pthread_equal(pthread_self(), s_mainThread);
    if (isBelow(full, worker ? s_workerFolders : s_mainFolders))
        return;
    std::fprintf(stderr, "==fuzz== %s outside the allowed folders (%s thread): %s\n", operation,
        worker ? "worker" : "main", full.c_str());
    std::abort();
}

// The interposers: the executable's definitions come before the C library's.
extern "C" {

int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    if (writes(flags))
        FuzzFileGuard::check("open", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *, int, ...)>("open");
    return call(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    if (writes(flags))
        FuzzFileGuard::check("open", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *, int, ...)>("open64");
    return call(path, flags, mode);
}

int openat(int directory, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    if (writes(flags))
        FuzzFileGuard::check("openat", directory, path);
    static const auto call = next<int (*)(int, const char *, int, ...)>("openat");
    return call(directory, path, flags, mode);
}

int openat64(int directory, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    if (writes(flags))
        FuzzFileGuard::check("openat", directory, path);
    static const auto call = next<int (*)(int, const char *, int, ...)>("openat64");
    return call(directory, path, flags, mode);
}

int creat(const char *path, mode_t mode)
{
    FuzzFileGuard::check("creat", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *, mode_t)>("creat");
    return call(path, mode);
}

int creat64(const char *path, mode_t mode)
{
    FuzzFileGuard::check("creat", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *, mode_t)>("creat64");
    return call(path, mode);
}

int mkdir(const char *path, mode_t mode)
{
    FuzzFileGuard::check("mkdir", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *, mode_t)>("mkdir");
    return call(path, mode);
}

int mkdirat(int directory, const char *path, mode_t mode)
{
    FuzzFileGuard::check("mkdirat", directory, path);
    static const auto call = next<int (*)(int, const char *, mode_t)>("mkdirat");
    return call(directory, path, mode);
}

int unlink(const char *path)
{
    FuzzFileGuard::check("unlink", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *)>("unlink");
    return call(path);
}

int unlinkat(int directory, const char *path, int flags)
{
    FuzzFileGuard::check("unlinkat", directory, path);
    static const auto call = next<int (*)(int, const char *, int)>("unlinkat");
    return call(directory, path, flags);
}

int rmdir(const char *path)
{
    FuzzFileGuard::check("rmdir", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *)>("rmdir");
    return call(path);
}

int rename(const char *from, const char *to)
{
    FuzzFileGuard::check("rename", AT_FDCWD, from);
    FuzzFileGuard::check("rename", AT_FDCWD, to);
    static const auto call = next<int (*)(const char *, const char *)>("rename");
    return call(from, to);
}

int renameat(int fromDirectory, const char *from, int toDirectory, const char *to)
{
    FuzzFileGuard::check("renameat", fromDirectory, from);
    FuzzFileGuard::check("renameat", toDirectory, to);
    static const auto call = next<int (*)(int, const char *, int, const char *)>("renameat");
    return call(fromDirectory, from, toDirectory, to);
}

int renameat2(int fromDirectory, const char *from, int toDirectory, const char *to, unsigned int flags)
{
    FuzzFileGuard::check("renameat2", fromDirectory, from);
    FuzzFileGuard::check("renameat2", toDirectory, to);
    static const auto call = next<int (*)(int, const char *, int, const char *, unsigned int)>("renameat2");
    return call(fromDirectory, from, toDirectory, to, flags);
}

int link(const char *from, const char *to)
{
    FuzzFileGuard::check("link", AT_FDCWD, to);
    static const auto call = next<int (*)(const char *, const char *)>("link");
    return call(from, to);
}

int linkat(int fromDirectory, const char *from, int toDirectory, const char *to, int flags)
{
    FuzzFileGuard::check("linkat", toDirectory, to);
    static const auto call = next<int (*)(int, const char *, int, const char *, int)>("linkat");
    return call(fromDirectory, from, toDirectory, to, flags);
}

int symlink(const char *target, const char *path)
{
    FuzzFileGuard::check("symlink", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *, const char *)>("symlink");
    return call(target, path);
}

int symlinkat(const char *target, int directory, const char *path)
{
    FuzzFileGuard::check("symlinkat", directory, path);
    static const auto call = next<int (*)(const char *, int, const char *)>("symlinkat");
    return call(target, directory, path);
}

int truncate(const char *path, off_t length)
{
    FuzzFileGuard::check("truncate", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *, off_t)>("truncate");
    return call(path, length);
}

int utime(const char *path, const struct utimbuf *times)
{
    FuzzFileGuard::check("utime", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *, const struct utimbuf *)>("utime");
    return call(path, times);
}

int utimes(const char *path, const struct timeval times[2])
{
    FuzzFileGuard::check("utimes", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *, const struct timeval[2])>("utimes");
    return call(path, times);
}

int utimensat(int directory, const char *path, const struct timespec times[2], int flags)
{
    FuzzFileGuard::check("utimensat", directory, path);
    static const auto call = next<int (*)(int, const char *, const struct timespec[2], int)>("utimensat");
    return call(directory, path, times, flags);
}

int chmod(const char *path, mode_t mode)
{
    FuzzFileGuard::check("chmod", AT_FDCWD, path);
    static const auto call = next<int (*)(const char *, mode_t)>("chmod");
    return call(path, mode);
}

// Durability is no concern of a fuzz run: the atomic saves of the registry
// hive and the settings would otherwise wait for the disk on every input.
int fsync(int)
{
    return 0;
}

int fdatasync(int)
{
    return 0;
}

int fchmodat(int directory, const char *path, mode_t mode, int flags)
{
    FuzzFileGuard::check("fchmodat", directory, path);
    static const auto call = next<int (*)(int, const char *, mode_t, int)>("fchmodat");
    return call(directory, path, mode, flags);
}

} // extern "C"
