#include "database/ZelManagerPackage.h"

#include "database/ZelManagerDatabase.h"

#include <QAtomicInteger>
#include <QSharedData>

#include <atomic>

// The reference count comes first (QSharedData), then the fields in the order
// the database fills them.
struct ZelManagerPackage::Record : public QSharedData
{
    int flags = 0;
    // Bits 24-30: the status; bits 0-23 and 31: the progress, bit 31 its sign.
    QAtomicInteger<quint32> statusWord { 0 };
    qint64 installedTime = 0;
    qint64 availableTime = 0;
    QString name;
    QString repository;
    QString maintainer;
    QString description;
    QStringList availableVersions;
    QStringList categories;
    QString statusMessage;
    QString installedVersion;
    QString availableVersion;
    QStringList dependants;
    QStringList requestedBy;
};

namespace {

const quint32 StatusBits = 0x7F000000;
const quint32 ProgressBits = 0x80FFFFFF;
const int StatusShift = 24;
// The most negative progress that 24 bits and a sign bit hold.
const int SmallestProgress = -0x1000000;

quint32 encodeProgress(int progress)
{
    if (progress > 100)
        progress = -1;
    if (progress < SmallestProgress)
        progress = SmallestProgress;
    return quint32(progress) & ProgressBits;
}

int decodeProgress(quint32 word)
{
    const quint32 magnitude = word & 0x00FFFFFF;
    return (word & 0x80000000) ? int(magnitude | 0xFF000000) : int(magnitude);
}

const char *const StatusTexts[] = {
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Waiting"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Error"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Canceling"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Removing"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Upgrading"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Installing"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Parsing"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Downloading"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Reinstalling"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Removed"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Finished"),
    QT_TRANSLATE_NOOP("ZelManagerPackage", "Downloaded"),
};
const int StatusTextCount = int(sizeof(StatusTexts) / sizeof(StatusTexts[0]));

std::atomic<quint64> keyChanges { 0 };

void noteKeyChange()
{
    keyChanges.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

ZelManagerPackage::ZelManagerPackage() = default;

ZelManagerPackage::ZelManagerPackage(const QString &name, int flags)
    : d(new Record)
{
    d->name = name;
    d->flags = flags;
    noteKeyChange();
}

ZelManagerPackage::ZelManagerPackage(const ZelManagerPackage &other) = default;
ZelManagerPackage::ZelManagerPackage(ZelManagerPackage &&other) noexcept = default;
ZelManagerPackage &ZelManagerPackage::operator=(const ZelManagerPackage &other) = default;
ZelManagerPackage &ZelManagerPackage::operator=(ZelManagerPackage &&other) noexcept = default;
ZelManagerPackage::~ZelManagerPackage() = default;

QString ZelManagerPackage::name() const
{
    return d ? d->name : QString();
}

QString ZelManagerPackage::repository() const
{
    return d ? d->repository : QString();
}

QString ZelManagerPackage::maintainer() const
{
    return d ? d->maintainer : QString();
}

QString ZelManagerPackage::description() const
{
    return d ? d->description : QString();
}

QString ZelManagerPackage::installedVersion() const
{
    return d ? d->installedVersion : QString();
}

QString ZelManagerPackage::availableVersion() const
{
    return d ? d->availableVersion : QString();
}

QStringList ZelManagerPackage::availableVersions() const
{
    return d ? d->availableVersions : QStringList();
}

QStringList ZelManagerPackage::categories() const
{
    return d ? d->categories : QStringList();
}

QStringList ZelManagerPackage::dependants() const
{
    return d ? d->dependants : QStringList();
}

QStringList ZelManagerPackage::requestedBy() const
{
    return d ? d->requestedBy : QStringList();
}

qint64 ZelManagerPackage::installedTime() const
{
    return d ? d->installedTime : 0;
}

qint64 ZelManagerPackage::availableTime() const
{
    return d ? d->availableTime : 0;
}

int ZelManagerPackage::flags() const
{
    return d ? d->flags : 0;
}

int ZelManagerPackage::status() const
{
    return d ? int((d->statusWord.loadRelaxed() & StatusBits) >> StatusShift) : 0;
}

int ZelManagerPackage::progress() const
{
    return d ? decodeProgress(d->statusWord.loadRelaxed()) : 0;
}

QString ZelManagerPackage::statusText() const
{
    if (d && !d->statusMessage.isEmpty())
        return d->statusMessage;
    const int value = status();
    if (!d || value >= StatusTextCount)
        return tr("None");
    return tr(StatusTexts[value]);
}

// Compare-and-swap keeps a status set on the GUI thread while a worker sets
// the progress, and the other way round.
void ZelManagerPackage::setProgress(int progress)
{
    if (!d)
        return;
    const quint32 bits = encodeProgress(progress);
    quint32 word = d->statusWord.loadRelaxed();
    while (!d->statusWord.testAndSetRelaxed(word, (word & StatusBits) | bits, word)) { }
}

void ZelManagerPackage::setStatus(PackageStatus status, const QString &message)
{
    if (!d)
        return;
    d->statusMessage = message;
    const quint32 bits = (quint32(status) << StatusShift) & StatusBits;
    quint32 word = d->statusWord.loadRelaxed();
    while (!d->statusWord.testAndSetRelaxed(word, (word & ProgressBits) | bits, word)) { }
}

void ZelManagerPackage::setRequest(int bits, const QString &requester)
{
    if (!d)
        return;
    if (bits) {
        d->requestedBy.append(requester);
        d->requestedBy.removeDuplicates();
        d->requestedBy.removeAll(QString());
    } else {
        d->requestedBy.clear();
    }
    d->flags = (d->flags & ~RequestMask) | (bits & RequestMask);
    noteKeyChange();
    ZelManagerDatabase::storeRequest(*this);
}

void ZelManagerPackage::setBookmarked(bool bookmarked)
{
    if (!d)
        return;
    d->flags = bookmarked ? (d->flags | FlagBookmarked) : (d->flags & ~FlagBookmarked);
    noteKeyChange();
    ZelManagerDatabase::storeBookmark(*this);
}

quint64 ZelManagerPackage::sortKeyChanges()
{
    return keyChanges.load(std::memory_order_relaxed);
}

void ZelManagerPackage::statusIcon(QString &icon, QString &toolTip) const
{
    const int value = flags();
    QString file;
    if (!d || (value & FlagBroken)) {
        file = QStringLiteral("broken.svg");
        toolTip = tr("Dependencies broken");
    } else if ((value & RequestReinstall) == RequestReinstall) {
        file = QStringLiteral("reinstall.svg");
        toolTip = tr("About to reinstall this package");
    } else if (value & FlagRequestRemove) {
        file = (value & FlagAutomatic) ? QStringLiteral("remove-auto.svg") : QStringLiteral("remove.svg");
        toolTip = tr("About to remove this package");
    } else if ((value & RequestUpgrade) == RequestUpgrade) {
        file = QStringLiteral("upgrade.svg");
        toolTip = tr("About to upgrade this package");
    } else if (value & FlagRequestInstall) {
        file = (value & FlagAutomatic) ? QStringLiteral("install-auto.svg") : QStringLiteral("install.svg");
        toolTip = tr("About to install this package");
    } else if (value & FlagUpgradable) {
        file = QStringLiteral("installed-outdated.svg");
        toolTip = tr("This package is upgradable");
    } else if (value & FlagInstalled) {
        file = QStringLiteral("installed-updated.svg");
        toolTip = tr("This package is installed");
    } else if (value & FlagInstallable) {
        file = QStringLiteral("new.svg");
        toolTip = tr("This package can be installed");
    } else {
        file = QStringLiteral("available.svg");
        toolTip.clear();
    }
    icon = QStringLiteral(":/images/package-") + file;
}

void ZelManagerPackage::bookmarkIcon(QString &icon, QString &toolTip) const
{
    if (isBookmarked()) {
        icon = QStringLiteral(":/images/flag-red.svg");
        toolTip = tr("This package is bookmarked");
    } else {
        icon = QStringLiteral(":/images/flag.svg");
        toolTip = tr("This package is not bookmarked");
    }
}

bool ZelManagerPackage::matches(const QString &text, int filter) const
{
    if (!d)
        return false;
    if (!text.isEmpty() && !d->description.contains(text) && !d->name.contains(text))
        return false;
    if (filter == 0)
        return true;
    const int requested = filter & RequestMask;
    if (requested == RequestMask && !isRequested())
        return false;
    if (requested != 0 && requested != RequestMask && requestFlags() != requested)
        return false;
    if (filter & FlagInstallable) {
        if (!isInstallable() || isInstalled())
            return false;
    } else if (filter & FlagInstalled) {
        if (!isInstalled())
            return false;
    } else if ((filter & FlagUpgradable) && !isUpgradable()) {
        return false;
    }
    return !(filter & FlagBookmarked) || isBookmarked();
}

void ZelManagerPackage::clearForLoad()
{
    noteKeyChange();
    d->flags = 0;
    d->statusWord.storeRelaxed(0);
    d->installedTime = 0;
    d->availableTime = 0;
    d->repository.clear();
    d->maintainer.clear();
    d->description.clear();
    d->availableVersions.clear();
    d->categories.clear();
    d->installedVersion.clear();
    d->availableVersion.clear();
    d->dependants.clear();
    d->requestedBy.clear();
}

void ZelManagerPackage::setStoredState(int flags, const QStringList &requestedBy, const QStringList &dependants)
{
    noteKeyChange();
    d->flags = flags;
    d->requestedBy = requestedBy;
    d->dependants = dependants;
}

void ZelManagerPackage::setInstalledData(const QString &version, qint64 time, const QString &repository,
    const QString &maintainer, const QString &description, const QStringList &categories)
{
    d->installedVersion = version;
    d->installedTime = time;
    d->repository = repository;
    d->maintainer = maintainer;
    d->description = description;
    d->categories = categories;
}

void ZelManagerPackage::setAvailableData(const QString &version, qint64 time, const QString &repository,
    const QString &maintainer, const QString &description, const QStringList &categories)
{
    noteKeyChange();
    d->availableVersion = version;
    d->availableTime = time;
    d->repository = repository;
    d->maintainer = maintainer;
    d->description = description;
    d->categories = categories;
}

void ZelManagerPackage::setAvailableVersions(const QStringList &versions)
{
    d->availableVersions = versions;
}

// Version parts as strings; the dotted tail after the minor part (patch) may
// itself hold dots and is then compared as a string.
namespace {

struct VersionParts
{
    bool valid = true;
    QString major;
    QString minor;
    QString patch;
    QString revision;
};

VersionParts parseVersion(const QString &text)
{
    VersionParts parts;
    QString rest = text.trimmed();
    const int dash = rest.indexOf(QLatin1Char('-'));
    if (dash == 0) {
        parts.valid = false;
        return parts;
    }
    if (dash > 0) {
        parts.revision = rest.mid(dash + 1).trimmed();
        rest = rest.left(dash).trimmed();
    }
    int dot = rest.indexOf(QLatin1Char('.'));
    if (dot == 0) {
        parts.valid = false;
        return parts;
    }
    if (dot < 0) {
        parts.major = rest;
        return parts;
    }
    parts.major = rest.left(dot).trimmed();
    const QString remainder = rest.mid(dot + 1);
    dot = remainder.indexOf(QLatin1Char('.'));
    if (dot == 0) {
        parts.valid = false;
    } else if (dot < 0) {
        parts.minor = remainder.trimmed();
    } else {
        parts.minor = remainder.left(dot).trimmed();
        parts.patch = remainder.mid(dot + 1).trimmed();
    }
    return parts;
}

bool isDecimal(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

QStringRef withoutLeadingZeros(const QString &digits)
{
    int first = 0;
    while (first < digits.size() - 1 && digits.at(first) == QLatin1Char('0'))
        ++first;
    return digits.midRef(first);
}

int sign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

// Decimal parts compare by value at any length (build dates such as
// 20240101123456789 exceed 64 bits); other parts by UTF-16 code units. A
// number and a text do not compare as texts, which would make the order go
// round in circles (2 < 10 by value, "10" < "1a" < "2" as texts): an absent
// part comes first, then the numbers, then the other texts.
int compareParts(const QString &a, const QString &b)
{
    const bool aIsNumber = isDecimal(a);
    const bool bIsNumber = isDecimal(b);
    if (aIsNumber && bIsNumber) {
        const QStringRef x = withoutLeadingZeros(a);
        const QStringRef y = withoutLeadingZeros(b);
        if (x.size() != y.size())
            return x.size() < y.size() ? -1 : 1;
        return sign(x.compare(y));
    }
    if (aIsNumber != bIsNumber) {
        if (a.isEmpty() || b.isEmpty())
            return a.isEmpty() ? -1 : 1;
        return aIsNumber ? -1 : 1;
    }
    return sign(a.compare(b));
}

QPair<QString, QString> splitRevision(const QString &revision)
{
    const int tilde = revision.indexOf(QLatin1Char('~'));
    if (tilde > 0)
        return { revision.left(tilde), revision.mid(tilde + 1) };
    return { revision, QString() };
}

} // namespace

int compareVersions(const QString &a, const QString &b)
{
    if (a == b)
        return 0;
    const VersionParts x = parseVersion(a);
    const VersionParts y = parseVersion(b);
    // Invalid versions sort first, among themselves by their text, so that
    // the order stays an order (a version equals itself).
    if (!x.valid || !y.valid)
        return x.valid == y.valid ? sign(a.trimmed().compare(b.trimmed())) : (x.valid ? 1 : -1);
    const QString *left[] = { &x.major, &x.minor, &x.patch };
    const QString *right[] = { &y.major, &y.minor, &y.patch };
    for (int i = 0; i < 3; ++i) {
        if (*left[i] == QLatin1String("*") || *right[i] == QLatin1String("*"))
            return 0;
        if (const int result = compareParts(*left[i], *right[i]))
            return result;
    }
    if (x.revision == QLatin1String("*") || y.revision == QLatin1String("*"))
        return 0;
    const QPair<QString, QString> first = splitRevision(x.revision);
    const QPair<QString, QString> second = splitRevision(y.revision);
    if (const int result = compareParts(first.first, second.first))
        return result;
    return sign(first.second.compare(second.second));
}

bool versionSatisfies(const QString &version, const QString &required, const QString &op)
{
    const int result = compareVersions(version, required);
    if (op == QLatin1String("="))
        return result == 0;
    if (op == QLatin1String(">"))
        return result > 0;
    if (op == QLatin1String("<"))
        return result < 0;
    if (op == QLatin1String("!="))
        return result != 0;
    if (op == QLatin1String(">="))
        return result >= 0;
    if (op == QLatin1String("<="))
        return result <= 0;
    return false;
}

// The file name goes into the path component as it is, so a "#" or "?" in a
// package name cannot turn the rest into a fragment or a query.
QUrl archiveUrl(const PackageInfo &info, const QString &architecture)
{
    if (info.repository.isEmpty() || !info.repository.isValid() || info.name.isEmpty() || info.version.isEmpty())
        return QUrl();
    const QString processor = architecture == QLatin1String("win32") ? QStringLiteral("i686") : QStringLiteral("amd64");
    const QString fileName
        = info.name + QLatin1Char('_') + info.version + QLatin1Char('_') + processor + QStringLiteral(".vtrpkg");
    QUrl url(info.repository.toString());
    url.setPath(url.path(QUrl::FullyDecoded) + QLatin1Char('/') + fileName, QUrl::DecodedMode);
    return url;
}

QPair<QString, QString> splitDependency(const QString &text)
{
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('<') || c == QLatin1Char('=') || c == QLatin1Char('>') || c == QLatin1Char('!'))
            return { text.left(i).trimmed(), text.mid(i).trimmed() };
    }
    return { text.trimmed(), QString() };
}
