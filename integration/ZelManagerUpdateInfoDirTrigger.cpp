#include "integration/ZelManagerUpdateInfoDirTrigger.h"

#include "diagnostics/ZelManagerLogging.h"
#include "engine/ZelManagerTargetFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextCodec>
#include <QTextDecoder>

#include <archive.h>

#include <memory>

namespace {

const int BlockSize = 409600;
// Longest line kept, in characters: directory entries are short, and a line
// beyond this (a manual of one huge line) is dropped whole as it streams by.
const int LineLimit = 4096;

const char DirHeader[] = "This is the file .../info/dir, which contains the\n"
                         "topmost node of the Info hierarchy, called (dir)Top.\n"
                         "The first time you invoke Info you start off looking at this node.\n"
                         "\x1f\n"
                         "File: dir,\tNode: Top\tThis is the top of the INFO tree\n"
                         "\n"
                         "The Info Directory\n"
                         "******************\n"
                         "\n"
                         "  The Info Directory is the top-level menu of major Info topics.\n"
                         "  Type \"d\" in Info to return to the Info Directory.  Type \"q\" to exit Info.\n"
                         "  Type \"?\" for a list of Info commands, or \"h\" to visit an Info tutorial.\n"
                         "  Type \"m\" to choose a menu item--for instance,\n"
                         "    \"mEmacs<Return>\" visits the Emacs manual.\n"
                         "  In Emacs Info, you can click mouse button 2 on a menu item\n"
                         "  or cross reference to follow it to its target.\n"
                         "  Each menu line that starts with a * is a topic you can select with \"m\".\n"
                         "  You can also select a topic by typing its ordinal number.\n"
                         "  Every third topic has a red * to help pick the right number to type.\n"
                         "\n"
                         "* Menu:\n"
                         "\n";

struct ArchiveDeleter
{
    void operator()(archive *a) const { archive_read_free(a); }
};

// Follows the directory markers of one manual, line by line.
class EntryCollector
{
public:
    explicit EntryCollector(ZelManagerUpdateInfoDirTrigger::Sections &sections)
        : m_sections(sections)
    {
    }

    void addLine(const QString &text)
    {
        const QString line = text.trimmed();
        if (line.isEmpty())
            return;
        if (line.startsWith(QLatin1String("INFO-DIR-SECTION"))) {
            m_title = line.mid(16).trimmed();
        } else if (line == QLatin1String("START-INFO-DIR-ENTRY")) {
            m_current = m_sections.value(m_title);
            m_collecting = true;
        } else if (line == QLatin1String("END-INFO-DIR-ENTRY")) {
            m_sections.insert(m_title, m_current);
            m_collecting = false;
        } else if (m_collecting) {
            m_current << line;
        }
    }

private:
    ZelManagerUpdateInfoDirTrigger::Sections &m_sections;
    QString m_title;
    QStringList m_current;
    bool m_collecting = false;
};

// Cuts decoded text into lines for the collector, each character looked at
// once; what is kept of an unfinished line is at most LineLimit long.
class LineSplitter
{
public:
    explicit LineSplitter(EntryCollector &collector)
        : m_collector(collector)
    {
    }

    void add(const QString &text)
    {
        int start = 0;
        for (int end = text.indexOf(QLatin1Char('\n')); end >= 0;
             start = end + 1, end = text.indexOf(QLatin1Char('\n'), start)) {
            append(text.midRef(start, end - start));
            if (!m_overlong)
                m_collector.addLine(m_pending);
            m_pending.clear();
            m_overlong = false;
        }
        append(text.midRef(start));
    }

    void finish()
    {
        if (!m_overlong)
            m_collector.addLine(m_pending);
    }

private:
    void append(const QStringRef &piece)
    {
        if (m_overlong)
            return;
        if (m_pending.size() + piece.size() > LineLimit) {
            m_overlong = true;
            m_pending.clear();
            return;
        }
        m_pending += piece;
    }

    EntryCollector &m_collector;
    QString m_pending;
    bool m_overlong = false;
};

} // namespace

void ZelManagerUpdateInfoDirTrigger::begin()
{
    m_dirty = false;
}

void ZelManagerUpdateInfoDirTrigger::finish()
{
    if (m_dirty)
        rebuild();
}

void ZelManagerUpdateInfoDirTrigger::installFile(const QString &)
{
    m_dirty = true;
}

void ZelManagerUpdateInfoDirTrigger::removeFile(const QString &)
{
    m_dirty = true;
    const QString dirFile = targetPath() + QStringLiteral("/share/info/dir");
    if (QFileInfo(dirFile).isFile())
        QFile::remove(dirFile);
}

bool ZelManagerUpdateInfoDirTrigger::readManual(const QString &file, Sections &sections)
{
    std::unique_ptr<archive, ArchiveDeleter> reader(archive_read_new());
    // Exactly one gzip layer, without bidding: a manual whose text happens to
    // be gzip data itself is that text, not a second layer to undo.
    archive_read_append_filter(reader.get(), ARCHIVE_FILTER_GZIP);
    archive_read_support_format_raw(reader.get());
    archive_read_support_format_empty(reader.get());
    archive_entry *entry = nullptr;
    if (archive_read_open_filename(reader.get(), QFile::encodeName(file).constData(), BlockSize) != ARCHIVE_OK)
        return false;
    const int header = archive_read_next_header(reader.get(), &entry);
    if (archive_filter_code(reader.get(), 0) != ARCHIVE_FILTER_GZIP)
        return false;
    // An empty manual is a manual with no entries, not an unreadable one;
    // the forced gzip layer also reads a file that is not gzip as empty.
    if (header == ARCHIVE_EOF) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) && in.read(2) == QByteArray("\x1f\x8b");
    }
    if (header != ARCHIVE_OK)
        return false;

    // Work on a copy: a manual that breaks off half-way adds nothing.
    Sections updated = sections;
    EntryCollector collector(updated);
    std::unique_ptr<QTextDecoder> decoder(QTextCodec::codecForName("UTF-8")->makeDecoder());
    LineSplitter lines(collector);
    QByteArray block(BlockSize, Qt::Uninitialized);
    for (;;) {
        const la_ssize_t size = archive_read_data(reader.get(), block.data(), BlockSize);
        if (size < 0)
            return false;
        if (size == 0)
            break;
        lines.add(decoder->toUnicode(block.constData(), int(size)));
    }
    lines.finish();
    sections = updated;
    return true;
}

QByteArray ZelManagerUpdateInfoDirTrigger::dirFileContents(const Sections &sections)
{
    QByteArray contents(DirHeader);
    for (auto it = sections.constBegin(); it != sections.constEnd(); ++it) {
        contents += it.key().toUtf8() + '\n';
        for (const QString &line : it.value())
            contents += line.toUtf8() + '\n';
        contents += '\n';
    }
    return contents;
}

void ZelManagerUpdateInfoDirTrigger::rebuild() const
{
    const QString infoDir = targetPath() + QStringLiteral("/share/info");
    QDir folder(infoDir);
    if (!QFileInfo(infoDir).isDir())
        return;
    const QStringList manuals
        = folder.entryList({ QStringLiteral("*.info.gz") }, QDir::Files, QDir::Name | QDir::IgnoreCase);
    const QString dirFile = infoDir + QStringLiteral("/dir");
    if (manuals.isEmpty()) {
        QFile::remove(dirFile);
        ZelManagerTargetFolder(targetPath()).removeEmptyFolders({ QStringLiteral("share/info") });
        return;
    }
    Sections sections;
    for (const QString &manual : manuals) {
        if (!readManual(infoDir + QLatin1Char('/') + manual, sections))
            qCWarning(zelTriggers, "cannot read Info manual %s", qUtf8Printable(manual));
    }
    qCDebug(zelTriggers, "Info directory of %d manuals", int(manuals.size()));
    QSaveFile out(dirFile);
    if (out.open(QIODevice::WriteOnly)) {
        out.write(dirFileContents(sections));
        if (out.commit())
            return;
    }
    qCWarning(zelTriggers, "cannot write %s: %s", qUtf8Printable(dirFile), qUtf8Printable(out.errorString()));
}
