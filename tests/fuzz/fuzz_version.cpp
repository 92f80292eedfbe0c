// Version order and dependency texts. Input: up to three version texts and
// a dependency text, separated by line feeds.
#include "database/ZelManagerPackage.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

int compare(const QString &a, const QString &b)
{
    const int result = compareVersions(a, b);
    FUZZ_CHECK(result >= -1 && result <= 1, a + QLatin1Char('|') + b);
    return result;
}

// A "*" part stands for any value: a pattern, not a version, and equal to
// versions that differ among themselves.
bool isPattern(const QString &version)
{
    return version.contains(QLatin1Char('*'));
}

void checkOperators(const QString &a, const QString &b)
{
    const int order = compare(a, b);
    FUZZ_CHECK(versionSatisfies(a, b, QStringLiteral("=")) == (order == 0));
    FUZZ_CHECK(versionSatisfies(a, b, QStringLiteral("!=")) == (order != 0));
    FUZZ_CHECK(versionSatisfies(a, b, QStringLiteral("<")) == (order < 0));
    FUZZ_CHECK(versionSatisfies(a, b, QStringLiteral(">")) == (order > 0));
    FUZZ_CHECK(versionSatisfies(a, b, QStringLiteral("<=")) == (order <= 0));
    FUZZ_CHECK(versionSatisfies(a, b, QStringLiteral(">=")) == (order >= 0));
    FUZZ_CHECK(!versionSatisfies(a, b, QStringLiteral("=>")));
}

void checkOrder(const QString &a, const QString &b, const QString &c)
{
    const QString all = a + QLatin1Char('|') + b + QLatin1Char('|') + c;
    FUZZ_CHECK(compare(a, a) == 0, a);
    FUZZ_CHECK(compare(a, b) == -compare(b, a), all);
    if (isPattern(a) || isPattern(b) || isPattern(c))
        return;
    const int ab = compare(a, b);
    const int bc = compare(b, c);
    const int ac = compare(a, c);
    if (ab <= 0 && bc <= 0)
        FUZZ_CHECK(ac <= 0 && (ac < 0 || (ab == 0 && bc == 0)), all);
    if (ab >= 0 && bc >= 0)
        FUZZ_CHECK(ac >= 0 && (ac > 0 || (ab == 0 && bc == 0)), all);
}

bool isOperatorCharacter(QChar c)
{
    return c == QLatin1Char('<') || c == QLatin1Char('=') || c == QLatin1Char('>') || c == QLatin1Char('!');
}

void checkDependency(const QString &text)
{
    const QPair<QString, QString> split = splitDependency(text);
    FUZZ_CHECK(split.first == split.first.trimmed() && split.second == split.second.trimmed(), text);
    for (const QChar c : split.first)
        FUZZ_CHECK(!isOperatorCharacter(c), text);
    FUZZ_CHECK(split.second.isEmpty() || isOperatorCharacter(split.second.at(0)), text);
    // Nothing but white space is lost.
    QString rejoined = split.first + split.second;
    QString original = text;
    rejoined.remove(QRegExp(QStringLiteral("\\s")));
    original.remove(QRegExp(QStringLiteral("\\s")));
    FUZZ_CHECK(rejoined == original, text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputScope scope;
    const QStringList parts
        = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)).split(QLatin1Char('\n'));
    const QString a = parts.value(0);
    const QString b = parts.value(1);
    const QString c = parts.value(2);
    checkOrder(a, b, c);
    checkOrder(b, c, a);
    checkOrder(c, a, b);
    checkOperators(a, b);
    checkDependency(parts.value(3, a));
    return 0;
}
