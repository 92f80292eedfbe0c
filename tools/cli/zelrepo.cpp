// zelrepo: builds package archives from package source folders and keeps a
// repository's "packages.xml" up to date.

#include "tools/ZelManagerRepositoryBuilder.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

const char Usage[] = "usage:\n"
                     "  zelrepo build <srcdir> <repodir> [--lzma] [--time <seconds>] [--mtime <seconds>]\n"
                     "                [--dot-slash] [--no-index]\n"
                     "      build <repodir>/<name>_<version>_<i686|amd64>.vtrpkg from <srcdir> (its \"manifest\",\n"
                     "      scripts preinst, postinst, prerm, postrm and the tree files/) and add it to\n"
                     "      <repodir>/packages.xml\n"
                     "  zelrepo index <repodir>\n"
                     "      write <repodir>/packages.xml anew from the archives in the folder\n";

int usage()
{
    std::fputs(Usage, stderr);
    return 2;
}

int failure(const QString &text)
{
    std::fprintf(stderr, "zelrepo: %s\n", qPrintable(text));
    return 1;
}

int build(QStringList arguments)
{
    ZelManagerRepositoryBuilder builder;
    QStringList folders;
    while (!arguments.isEmpty()) {
        const QString argument = arguments.takeFirst();
        if (argument == QLatin1String("--lzma")) {
            builder.setCompression(ZelManagerRepositoryBuilder::Lzma);
        } else if (argument == QLatin1String("--dot-slash")) {
            builder.setDotSlashPrefix(true);
        } else if (argument == QLatin1String("--no-index")) {
            builder.setIndexUpdate(false);
        } else if (argument == QLatin1String("--time") && !arguments.isEmpty()) {
            bool ok = false;
            const qint64 time = arguments.takeFirst().toLongLong(&ok);
            if (!ok || time <= 0)
                return usage();
            builder.setTime(time);
        } else if (argument == QLatin1String("--mtime") && !arguments.isEmpty()) {
            bool ok = false;
            const qint64 time = arguments.takeFirst().toLongLong(&ok);
            if (!ok || time <= 0)
                return usage();
            builder.setEntryTime(time);
        } else if (argument.startsWith(QLatin1String("--"))) {
            return usage();
        } else {
            folders.append(argument);
        }
    }
    if (folders.size() != 2)
        return usage();
    if (!builder.buildPackage(folders.at(0), folders.at(1)))
        return failure(builder.errorText());
    std::printf("%s %s %lld\n", qPrintable(builder.archivePath()), qPrintable(builder.md5sum()),
        static_cast<long long>(builder.time()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty())
        return usage();
    const QString command = arguments.takeFirst();
    if (command == QLatin1String("build"))
        return build(arguments);
    if (command == QLatin1String("index") && arguments.size() == 1) {
        ZelManagerRepositoryBuilder builder;
        if (!builder.rebuildIndex(arguments.first()))
            return failure(builder.errorText());
        return 0;
    }
    if (command == QLatin1String("help") || command == QLatin1String("--help")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    return usage();
}
