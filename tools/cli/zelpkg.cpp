// zelpkg: the package manager's operations from the command line, on the
// same settings, installation, databases, cache and lock as the window.

#include "app/MLibraryInfo.h"
#include "app/ZelManagerLauncher.h"
#include "database/ZelManagerPackage.h"
#include "tools/ZelManagerCommandLine.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Operation = ZelManagerApplyPlan::Operation;

struct Command
{
    const char *name;
    const char *usage;
    const char *help;
    QStringList options; // accepted options; "--category" takes a value
    int minArguments;
    int maxArguments; // -1: any number
};

const char Overview[] = "usage: zelpkg [--help] [--version] COMMAND [OPTIONS] [ARGUMENTS]\n"
                        "\n"
                        "Commands:\n"
                        "  update                 refresh every enabled repository\n"
                        "  search TEXT            packages whose name or description holds TEXT\n"
                        "  show NAME              everything about one package\n"
                        "  list                   packages, all or filtered\n"
                        "  files NAME             installed files of a package\n"
                        "  owner PATH             which package installed a file\n"
                        "  install NAME...        install packages (and what they need)\n"
                        "  remove NAME...         remove packages (and what depends on them)\n"
                        "  reinstall NAME...      install packages again\n"
                        "  upgrade NAME...|--all  upgrade packages\n"
                        "  apply                  carry out the requests already marked\n"
                        "  cancel NAME...|--all   cancel requests\n"
                        "  export FILE            write the installed packages to a selection file\n"
                        "  import FILE            install and remove packages to match a selection file\n"
                        "  clean                  delete the cached archives\n"
                        "\n"
                        "\"zelpkg COMMAND --help\" describes a command.\n"
                        "Exit status: 0 success, 1 an operation failed or was not carried out,\n"
                        "2 usage error or unknown package, 3 the installation is locked by another program.\n";

const char ChangeHelp[] = "Marks the packages as the window does (dependencies and dependants follow), prints the\n"
                          "plan and asks for confirmation, then applies every marked operation.\n"
                          "  --yes      do not ask\n"
                          "  --dry-run  print the plan only; the requests made are cancelled again\n";

QList<Command> commands()
{
    const QStringList json { QStringLiteral("--json") };
    const QStringList change { QStringLiteral("--yes"), QStringLiteral("--dry-run") };
    return {
        { "update", "zelpkg update", "Downloads the index of every enabled repository.\n", {}, 0, 0 },
        { "search", "zelpkg search TEXT [--json]",
            "Lists the packages whose name or description contains TEXT (case-sensitive).\n", json, 1, 1 },
        { "show", "zelpkg show NAME [--json]",
            "Shows versions, repository, maintainer, categories, dependencies, dependants, state and request.\n", json,
            1, 1 },
        { "list", "zelpkg list [--installed|--upgradable|--requested|--bookmarked] [--category PATH] [--json]",
            "Lists the packages, or those in one state, request or category (levels separated by \"/\").\n",
            json
                + QStringList { QStringLiteral("--installed"), QStringLiteral("--upgradable"),
                    QStringLiteral("--requested"), QStringLiteral("--bookmarked"), QStringLiteral("--category") },
            0, 0 },
        { "files", "zelpkg files NAME [--json]", "Lists the files an installed package owns.\n", json, 1, 1 },
        { "owner", "zelpkg owner PATH [--json]",
            "Names the package that installed PATH (absolute, or relative to the installation folder).\n", json, 1, 1 },
        { "install", "zelpkg install NAME... [--yes] [--dry-run]", ChangeHelp, change, 1, -1 },
        { "remove", "zelpkg remove NAME... [--yes] [--dry-run]", ChangeHelp, change, 1, -1 },
        { "reinstall", "zelpkg reinstall NAME... [--yes] [--dry-run]", ChangeHelp, change, 1, -1 },
        { "upgrade", "zelpkg upgrade NAME...|--all [--yes] [--dry-run]", ChangeHelp,
            change + QStringList { QStringLiteral("--all") }, 0, -1 },
        { "apply", "zelpkg apply [--yes] [--dry-run]",
            "Applies the requests already marked (for example in the window).\n", change, 0, 0 },
        { "cancel", "zelpkg cancel NAME...|--all", "Cancels the requests of packages (and those they caused).\n",
            { QStringLiteral("--all") }, 0, -1 },
        { "export", "zelpkg export FILE", "Writes the installed packages to a package selection file.\n", {}, 1, 1 },
        { "import", "zelpkg import FILE [--keep-installed] [--yes] [--dry-run]",
            "Installs the packages of a selection file that are missing and removes the installed ones it\n"
            "neither lists nor needs; --keep-installed removes nothing.\n",
            change + QStringList { QStringLiteral("--keep-installed") }, 1, 1 },
        { "clean", "zelpkg clean", "Deletes the cached archives.\n", {}, 0, 0 },
    };
}

int usageError(const QString &text, const char *usage)
{
    std::fprintf(stderr, "zelpkg: %s\nusage: %s\n", qPrintable(text), usage);
    return ZelManagerCommandLine::UsageError;
}

// Ctrl+C (and a closed terminal, a termination request) only set a flag and
// write to a pipe; the event loop picks that up and stops the run.
int signalPipe[2] = { -1, -1 };

extern "C" void onSignal(int)
{
    ZelManagerCommandLine::s_interrupted = 1;
    const char byte = 1;
    if (::write(signalPipe[1], &byte, 1) < 0) { }
}

void watchSignals(ZelManagerCommandLine &commandLine)
{
    if (::pipe(signalPipe) != 0)
        return;
    for (int fd : signalPipe)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &commandLine);
    QObject::connect(notifier, &QSocketNotifier::activated, &commandLine, [&commandLine] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) { }
        commandLine.interrupt();
    });
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a waiting prompt returns
    for (int signal : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction(signal, &action, nullptr);
    // Output into a closed pipe ("zelpkg install x | head") must not end the
    // program in the middle of a run; the write fails instead.
    ::signal(SIGPIPE, SIG_IGN);
}

int execute(ZelManagerCommandLine &commandLine, const Command &command, const QStringList &arguments,
    const ZelManagerCommandLine::Options &options, bool all)
{
    const QString name = QLatin1String(command.name);
    const QString first = arguments.value(0);
    if (name == QLatin1String("update"))
        return commandLine.update();
    if (name == QLatin1String("search"))
        return commandLine.search(first, options);
    if (name == QLatin1String("show"))
        return commandLine.show(first, options);
    if (name == QLatin1String("list"))
        return commandLine.list(options);
    if (name == QLatin1String("files"))
        return commandLine.files(first, options);
    if (name == QLatin1String("owner"))
        return commandLine.owner(first, options);
    if (name == QLatin1String("install"))
        return commandLine.change(ZelManagerApplyPlan::Install, arguments, options);
    if (name == QLatin1String("remove"))
        return commandLine.change(ZelManagerApplyPlan::Remove, arguments, options);
    if (name == QLatin1String("reinstall"))
        return commandLine.change(ZelManagerApplyPlan::Reinstall, arguments, options);
    if (name == QLatin1String("upgrade"))
        return all ? commandLine.upgradeAll(options)
                   : commandLine.change(ZelManagerApplyPlan::Upgrade, arguments, options);
    if (name == QLatin1String("apply"))
        return commandLine.apply(options);
    if (name == QLatin1String("cancel"))
        return commandLine.cancel(arguments, all);
    if (name == QLatin1String("export"))
        return commandLine.exportList(first);
    if (name == QLatin1String("import"))
        return commandLine.importList(first, options);
    return commandLine.clean();
}

// Parses the command's options and arguments, then runs it.
int runCommand(const Command &command, QStringList words)
{
    ZelManagerCommandLine::Options options;
    QStringList arguments;
    bool all = false;
    bool optionsEnded = false;
    while (!words.isEmpty()) {
        const QString word = words.takeFirst();
        if (optionsEnded || !word.startsWith(QLatin1String("--")) || word == QLatin1String("-")) {
            arguments.append(word);
            continue;
        }
        if (word == QLatin1String("--")) {
            optionsEnded = true;
        } else if (word == QLatin1String("--help")) {
            std::printf("usage: %s\n\n%s", command.usage, command.help);
            return ZelManagerCommandLine::Success;
        } else if (!command.options.contains(word)) {
            return usageError(QStringLiteral("unknown option %1").arg(word), command.usage);
        } else if (word == QLatin1String("--category")) {
            if (words.isEmpty())
                return usageError(QStringLiteral("--category needs a path"), command.usage);
            options.category = words.takeFirst();
        } else if (word == QLatin1String("--json")) {
            options.json = true;
        } else if (word == QLatin1String("--yes")) {
            options.yes = true;
        } else if (word == QLatin1String("--dry-run")) {
            options.dryRun = true;
        } else if (word == QLatin1String("--all")) {
            all = true;
        } else if (word == QLatin1String("--keep-installed")) {
            options.keepInstalled = true;
        } else {
            const int filter = word == QLatin1String("--installed") ? ZelManagerPackage::FlagInstalled
                : word == QLatin1String("--upgradable")             ? ZelManagerPackage::FlagUpgradable
                : word == QLatin1String("--requested")              ? ZelManagerPackage::RequestMask
                                                                    : ZelManagerPackage::FlagBookmarked;
            if (options.listFilter != 0)
                return usageError(QStringLiteral("give one state filter at most"), command.usage);
            options.listFilter = filter;
        }
    }
    const bool needsNames = command.minArguments > 0 || (command.options.contains(QLatin1String("--all")));
    if (all && !arguments.isEmpty())
        return usageError(QStringLiteral("give package names or --all, not both"), command.usage);
    if (arguments.size() < command.minArguments || (needsNames && !all && arguments.isEmpty())
        || (command.maxArguments >= 0 && arguments.size() > command.maxArguments))
        return usageError(QStringLiteral("wrong number of arguments"), command.usage);

    ZelManagerCommandLine commandLine(stdout, stderr, ::isatty(STDOUT_FILENO));
    watchSignals(commandLine);
    return execute(commandLine, command, arguments, options, all);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ZelManagerLauncher::installTranslations(QFileInfo(QCoreApplication::applicationFilePath()).absolutePath());
    QStringList words = app.arguments().mid(1);
    const QString first = words.isEmpty() ? QString() : words.takeFirst();
    if (first == QLatin1String("--version")) {
        std::printf("zelpkg %s\n", qPrintable(MLibraryInfo::getVersion()));
        return ZelManagerCommandLine::Success;
    }
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        std::fputs(Overview, stdout);
        return ZelManagerCommandLine::Success;
    }
    const QList<Command> table = commands();
    if (first == QLatin1String("help")) {
        if (words.isEmpty()) {
            std::fputs(Overview, stdout);
            return ZelManagerCommandLine::Success;
        }
        words = QStringList { words.first(), QStringLiteral("--help") };
    }
    const QString name = first == QLatin1String("help") ? words.first() : first;
    for (const Command &command : table) {
        if (name == QLatin1String(command.name))
            return runCommand(command, words.mid(first == QLatin1String("help") ? 1 : 0));
    }
    std::fprintf(stderr, "zelpkg: %s\n%s",
        name.isEmpty() ? "no command given" : qPrintable(QStringLiteral("unknown command %1").arg(name)), Overview);
    return ZelManagerCommandLine::UsageError;
}
