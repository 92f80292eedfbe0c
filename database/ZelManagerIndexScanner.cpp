#include "database/ZelManagerIndexScanner.h"

#include "database/ZelManagerIndexBatch.h"
#include "database/ZelManagerPackage.h"

#include <QIODevice>

#include <cstring>

namespace {

// The longest markup (a tag, a comment, a CDATA section) read in one piece;
// anything longer is left to the XML stream reader.
const int MarkupLimit = 16 << 20;
const int NameLimit = 256;
const int DepthLimit = 4096;
const int AttributeLimit = 64;

// Bytes of text that stand for themselves: printable ASCII but '<', '&' and
// ']', plus tab and line feed.
struct TextTable
{
    bool plain[256] = {};
    TextTable()
    {
        for (int c = 0x20; c < 0x80; ++c)
            plain[c] = c != '<' && c != '&' && c != ']';
        plain[int('\t')] = plain[int('\n')] = true;
    }
};
const TextTable TextBytes;

inline bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

inline bool isNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

inline bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

const char *skipSpace(const char *p, const char *e)
{
    while (p < e && isSpace(*p))
        ++p;
    return p;
}

// Code points an XML document may hold; the non-characters too are left to
// the XML stream reader.
bool isDocumentCharacter(uint c)
{
    if (c < 0x20)
        return c == 0x9 || c == 0xA || c == 0xD;
    if (c >= 0xFDD0 && c <= 0xFDEF)
        return false;
    if ((c & 0xFFFE) == 0xFFFE)
        return false;
    return c < 0xD800 || (c >= 0xE000 && c <= 0x10FFFF);
}

// The length of the UTF-8 sequence at p (lead byte 0x80 or above): 0 when it
// is not a well-formed sequence of a document character, -1 when it runs
// past e.
int sequenceLength(const char *p, const char *e)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    int length;
    uint c;
    if (u[0] >= 0xC2 && u[0] <= 0xDF) {
        length = 2;
        c = u[0] & 0x1F;
    } else if (u[0] >= 0xE0 && u[0] <= 0xEF) {
        length = 3;
        c = u[0] & 0x0F;
    } else if (u[0] >= 0xF0 && u[0] <= 0xF4) {
        length = 4;
        c = u[0] & 0x07;
    } else {
        return 0;
    }
    if (e - p < length)
        return -1;
    for (int i = 1; i < length; ++i) {
        if ((u[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (u[i] & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    const uint least[] = { 0, 0, 0x80, 0x800, 0x10000 };
    if (c < least[length] || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return isDocumentCharacter(c) ? length : 0;
}

// The length of the document character at p: 0 when there is none, -1 when
// its sequence runs past e.
int characterLength(const char *p, const char *e)
{
    const uchar c = uchar(*p);
    if (c >= 0x80)
        return sequenceLength(p, e);
    return c >= 0x20 || isSpace(char(c)) ? 1 : 0;
}

int encode(uint c, char *out)
{
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

enum Reference { Resolved, Incomplete, Bad };

// The entity or character reference at p ('&'): its UTF-8 in out (size in
// *size) and the bytes it takes in *used.
Reference reference(const char *p, const char *e, char *out, int *size, int *used)
{
    const char *semicolon = static_cast<const char *>(std::memchr(p, ';', size_t(qMin<qint64>(e - p, 16))));
    if (!semicolon)
        return e - p < 16 ? Incomplete : Bad;
    *used = int(semicolon - p) + 1;
    const char *q = p + 1;
    if (*q != '#') {
        static const struct
        {
            const char *name;
            char value;
        } entities[] = { { "lt", '<' }, { "gt", '>' }, { "amp", '&' }, { "apos", '\'' }, { "quot", '"' } };
        for (const auto &entity : entities) {
            if (semicolon - q == qint64(std::strlen(entity.name))
                && std::memcmp(q, entity.name, size_t(semicolon - q)) == 0) {
                out[0] = entity.value;
                *size = 1;
                return Resolved;
            }
        }
        return Bad;
    }
    ++q;
    const bool hex = *q == 'x';
    if (hex)
        ++q;
    if (q == semicolon || semicolon - q > 8)
        return Bad;
    uint value = 0;
    for (; q < semicolon; ++q) {
        const char c = *q;
        if (c >= '0' && c <= '9')
            value = value * (hex ? 16 : 10) + uint(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            value = value * 16 + uint(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            value = value * 16 + uint(c - 'A' + 10);
        else
            return Bad;
    }
    if (!isDocumentCharacter(value))
        return Bad;
    *size = encode(value, out);
    return Resolved;
}

bool equals(const char *text, int size, const char *literal)
{
    return size == int(std::strlen(literal)) && std::memcmp(text, literal, size_t(size)) == 0;
}

inline bool isTrimmed(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isAscii(const char *text, qint64 size)
{
    for (qint64 i = 0; i < size; ++i) {
        if (uchar(text[i]) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

ZelManagerIndexScanner::ZelManagerIndexScanner(QIODevice *device, int blockSize)
    : m_device(device)
    , m_blockSize(qMax(1, blockSize))
{
    m_buffer.resize(m_blockSize + 1);
    m_buffer[0] = 0;
}

ZelManagerIndexScanner::Result ZelManagerIndexScanner::readPackage(ZelManagerIndexBatch &batch)
{
    if (m_phase == Finished)
        return Ended;
    if (m_phase == Failed)
        return GaveUp;
    m_batch = &batch;
    m_out = &batch.text;
    const int mark = batch.text.size();
    for (;;) {
        const int tokenMark = m_out->size();
        const Step step = m_pos < m_end ? token() : NeedMore;
        if (step == Next)
            continue;
        if (step == PackageDone) {
            ++m_packagesRead;
            return PackageRead;
        }
        if (step == NeedMore) {
            // The token is read again from its start with more data.
            m_out->resize(tokenMark);
            if (fill())
                continue;
            if (m_phase == Epilog && m_pos == m_end && m_deviceEnded) {
                m_phase = Finished;
                return Ended;
            }
        }
        batch.text.resize(mark);
        m_phase = Failed;
        return GaveUp;
    }
}

// Moves what is left to the front, grows the buffer when a token fills it
// whole, and reads a block; false when nothing more comes.
bool ZelManagerIndexScanner::fill()
{
    if (m_deviceEnded)
        return false;
    char *data = m_buffer.data();
    if (m_pos > 0) {
        std::memmove(data, data + m_pos, size_t(m_end - m_pos));
        m_end -= m_pos;
        m_pos = 0;
        data[m_end] = 0;
    }
    int capacity = m_buffer.size() - 1;
    if (m_end == capacity) {
        if (capacity >= MarkupLimit)
            return false;
        capacity = qMin(MarkupLimit, capacity * 2);
        m_buffer.resize(capacity + 1);
        data = m_buffer.data();
    }
    const qint64 read = m_device->read(data + m_end, qMin(capacity - m_end, m_blockSize));
    if (read <= 0) {
        m_deviceEnded = true;
        return false;
    }
    m_end += int(read);
    data[m_end] = 0;
    return true;
}

ZelManagerIndexScanner::Step ZelManagerIndexScanner::token()
{
    const char *data = m_buffer.constData();
    const char *s = data + m_pos;
    const char *e = data + m_end;
    return *s == '<' ? markup(s, e) : text(s, e);
}

ZelManagerIndexScanner::Step ZelManagerIndexScanner::commit(const char *p)
{
    m_pos = int(p - m_buffer.constData());
    m_started = true;
    return Next;
}

// Character data up to the next markup or the end of the data read so far.
// Outside the root element only white space may stand.
ZelManagerIndexScanner::Step ZelManagerIndexScanner::text(const char *s, const char *e)
{
    if (m_phase != InRoot) {
        const char *p = skipSpace(s, e);
        if (p < e && *p != '<')
            return Refuse;
        return commit(p);
    }
    const bool keep = keepsText();
    const char *p = s;
    const char *run = s;
    auto flush = [&]() {
        if (keep && p > run)
            m_out->append(run, int(p - run));
    };
    for (;;) {
        while (TextBytes.plain[uchar(*p)])
            ++p;
        const uchar c = uchar(*p);
        if (p == e || c == '<')
            break;
        if (c >= 0x80) {
            const int length = sequenceLength(p, e);
            if (length <= 0) {
                if (length == 0)
                    return Refuse;
                break;
            }
            p += length;
        } else if (c == ']') {
            if (e - p < 3)
                break;
            if (p[1] == ']' && p[2] == '>')
                return Refuse;
            ++p;
        } else if (c == '\r') {
            if (e - p < 2)
                break;
            flush();
            if (keep)
                m_out->append('\n');
            p += p[1] == '\n' ? 2 : 1;
            run = p;
        } else if (c == '&') {
            char value[4];
            int size = 0;
            int used = 0;
            const Reference found = reference(p, e, value, &size, &used);
            if (found == Bad)
                return Refuse;
            if (found == Incomplete)
                break;
            flush();
            if (keep)
                m_out->append(value, size);
            p += used;
            run = p;
        } else {
            return Refuse;
        }
    }
    if (p == s)
        return NeedMore;
    flush();
    return commit(p);
}

ZelManagerIndexScanner::Step ZelManagerIndexScanner::markup(const char *s, const char *e)
{
    if (e - s < 2)
        return NeedMore;
    if (s[1] == '/')
        return endTag(s, e);
    if (s[1] == '?')
        return instruction(s, e);
    if (s[1] != '!')
        return startTag(s, e);
    static const char Comment[] = "<!--";
    static const char Cdata[] = "<![CDATA[";
    const qint64 available = e - s;
    if (std::memcmp(s, Comment, size_t(qMin<qint64>(available, 4))) == 0)
        return available < 4 ? NeedMore : comment(s, e);
    if (std::memcmp(s, Cdata, size_t(qMin<qint64>(available, 9))) == 0)
        return available < 9 ? NeedMore : cdata(s, e);
    // A document type, or not XML.
    return Refuse;
}

ZelManagerIndexScanner::Step ZelManagerIndexScanner::startTag(const char *s, const char *e)
{
    const char *p = s + 1;
    if (p == e)
        return NeedMore;
    if (!isNameStart(*p))
        return Refuse;
    while (p < e && isNameChar(*p))
        ++p;
    const int nameSize = int(p - s - 1);
    if (nameSize > NameLimit)
        return Refuse;
    m_attributes.resize(0);
    bool empty = false;
    for (;;) {
        const char *afterName = p;
        p = skipSpace(p, e);
        if (p == e)
            return NeedMore;
        if (*p == '>') {
            ++p;
            break;
        }
        if (*p == '/') {
            if (p + 1 == e)
                return NeedMore;
            if (p[1] != '>')
                return Refuse;
            p += 2;
            empty = true;
            break;
        }
        if (p == afterName || !isNameStart(*p))
            return Refuse;
        const char *name = p;
        while (p < e && isNameChar(*p))
            ++p;
        if (p == e)
            return NeedMore;
        const int size = int(p - name);
        if (size > NameLimit || m_attributes.size() >= 2 * AttributeLimit
            || (size >= 5 && std::memcmp(name, "xmlns", 5) == 0))
            return Refuse;
        for (int a = 0; a < m_attributes.size(); a += 2) {
            if (m_attributes[a + 1] == size && std::memcmp(s + m_attributes[a], name, size_t(size)) == 0)
                return Refuse;
        }
        m_attributes.append(int(name - s));
        m_attributes.append(size);
        p = skipSpace(p, e);
        if (p == e)
            return NeedMore;
        if (*p != '=')
            return Refuse;
        p = skipSpace(p + 1, e);
        const Step value = attributeValue(p, e);
        if (value != Next)
            return value;
    }
    commit(p);
    const Step step = startElement(s + 1, nameSize);
    return step == Next && empty ? endElement() : step;
}

// A quoted value at p; p ends after the closing quote.
ZelManagerIndexScanner::Step ZelManagerIndexScanner::attributeValue(const char *&p, const char *e)
{
    if (p == e)
        return NeedMore;
    const char quote = *p;
    if (quote != '"' && quote != '\'')
        return Refuse;
    for (++p;;) {
        if (p == e)
            return NeedMore;
        const uchar c = uchar(*p);
        if (c == uchar(quote)) {
            ++p;
            return Next;
        }
        if (c == '<')
            return Refuse;
        if (c == '&') {
            char value[4];
            int size = 0;
            int used = 0;
            const Reference found = reference(p, e, value, &size, &used);
            if (found != Resolved)
                return found == Bad ? Refuse : NeedMore;
            p += used;
        } else {
            const int length = characterLength(p, e);
            if (length <= 0)
                return length == 0 ? Refuse : NeedMore;
            p += length;
        }
    }
}

ZelManagerIndexScanner::Step ZelManagerIndexScanner::endTag(const char *s, const char *e)
{
    const char *p = s + 2;
    while (p < e && isNameChar(*p))
        ++p;
    const char *nameEnd = p;
    p = skipSpace(p, e);
    if (p == e)
        return NeedMore;
    if (*p != '>' || m_phase != InRoot)
        return Refuse;
    const int size = int(nameEnd - s - 2);
    const int start = m_nameEnds.size() > 1 ? m_nameEnds.at(m_nameEnds.size() - 2) : 0;
    if (m_nameEnds.last() - start != size || std::memcmp(m_names.constData() + start, s + 2, size_t(size)) != 0)
        return Refuse;
    commit(p + 1);
    return endElement();
}

// Any characters up to "--", which must end the comment.
ZelManagerIndexScanner::Step ZelManagerIndexScanner::comment(const char *s, const char *e)
{
    for (const char *p = s + 4;;) {
        if (e - p < 3)
            return NeedMore;
        const uchar c = uchar(*p);
        if (c == '-' && p[1] == '-')
            return p[2] == '>' ? commit(p + 3) : Refuse;
        const int length = characterLength(p, e);
        if (length <= 0)
            return length == 0 ? Refuse : NeedMore;
        p += length;
    }
}

ZelManagerIndexScanner::Step ZelManagerIndexScanner::cdata(const char *s, const char *e)
{
    if (m_phase != InRoot)
        return Refuse;
    const bool keep = keepsText();
    const char *begin = s + 9;
    const char *p = begin;
    const char *run = p;
    auto flush = [&]() {
        if (keep && p > run)
            m_out->append(run, int(p - run));
    };
    for (;;) {
        if (e - p < 3)
            return NeedMore;
        const uchar c = uchar(*p);
        if (c == ']' && p[1] == ']' && p[2] == '>')
            break;
        if (c >= 0x80) {
            const int length = sequenceLength(p, e);
            if (length <= 0)
                return length == 0 ? Refuse : NeedMore;
            p += length;
        } else if (c == '\r') {
            flush();
            if (keep)
                m_out->append('\n');
            p += p[1] == '\n' ? 2 : 1;
            run = p;
        } else if (c >= 0x20 || c == '\n' || c == '\t') {
            ++p;
        } else {
            return Refuse;
        }
    }
    flush();
    return commit(p + 3);
}

// A processing instruction, or the XML declaration at the very start.
ZelManagerIndexScanner::Step ZelManagerIndexScanner::instruction(const char *s, const char *e)
{
    const char *p = s + 2;
    if (p == e)
        return NeedMore;
    if (!isNameStart(*p))
        return Refuse;
    while (p < e && isNameChar(*p))
        ++p;
    if (p == e)
        return NeedMore;
    const int size = int(p - s - 2);
    if (size > NameLimit)
        return Refuse;
    if (size == 3 && qstrnicmp(s + 2, "xml", 3) == 0) {
        if (m_started || std::memcmp(s + 2, "xml", 3) != 0)
            return Refuse;
        const char *end = nullptr;
        const Step step = declaration(p, e, &end);
        return step == Next ? commit(end) : step;
    }
    if (!isSpace(*p) && *p != '?')
        return Refuse;
    for (;;) {
        if (e - p < 2)
            return NeedMore;
        const uchar c = uchar(*p);
        if (c == '?' && p[1] == '>')
            return commit(p + 2);
        const int length = characterLength(p, e);
        if (length <= 0)
            return length == 0 ? Refuse : NeedMore;
        p += length;
    }
}

// version="1.0", then optionally encoding="UTF-8", in either quote; anything
// else (another version or encoding, standalone) is the XML stream reader's.
ZelManagerIndexScanner::Step ZelManagerIndexScanner::declaration(const char *p, const char *e, const char **end)
{
    auto pseudoAttribute = [&](const char *name, bool *found, QByteArray *value) -> Step {
        *found = false;
        const char *q = skipSpace(p, e);
        const int length = int(std::strlen(name));
        if (e - q < length + 1)
            return NeedMore;
        if (q == p || std::memcmp(q, name, size_t(length)) != 0)
            return Next;
        q = skipSpace(q + length, e);
        if (q == e)
            return NeedMore;
        if (*q != '=')
            return Refuse;
        q = skipSpace(q + 1, e);
        if (q == e)
            return NeedMore;
        const char quote = *q;
        if (quote != '"' && quote != '\'')
            return Refuse;
        const char *close = static_cast<const char *>(std::memchr(q + 1, quote, size_t(qMin<qint64>(e - q - 1, 32))));
        if (!close)
            return e - q - 1 < 32 ? NeedMore : Refuse;
        *value = QByteArray(q + 1, int(close - q - 1));
        *found = true;
        p = close + 1;
        return Next;
    };
    bool found = false;
    QByteArray value;
    Step step = pseudoAttribute("version", &found, &value);
    if (step != Next)
        return step;
    if (!found || value != "1.0")
        return Refuse;
    step = pseudoAttribute("encoding", &found, &value);
    if (step != Next)
        return step;
    if (found && value.toUpper() != "UTF-8")
        return Refuse;
    p = skipSpace(p, e);
    if (e - p < 2)
        return NeedMore;
    if (p[0] != '?' || p[1] != '>')
        return Refuse;
    *end = p + 2;
    return Next;
}

ZelManagerIndexScanner::Context ZelManagerIndexScanner::childContext(const char *name, int size) const
{
    switch (m_contexts.last()) {
    case Root:
        return equals(name, size, "package") ? Package : Skip;
    case Package:
        if (equals(name, size, "name"))
            return FieldName;
        if (equals(name, size, "maintainer"))
            return FieldMaintainer;
        if (equals(name, size, "description"))
            return FieldDescription;
        if (equals(name, size, "categories"))
            return Categories;
        return equals(name, size, "files") ? Files : Skip;
    case Categories:
        return equals(name, size, "category") ? FieldCategory : Skip;
    case Files:
        return equals(name, size, "file") ? File : Skip;
    case File:
        if (equals(name, size, "version"))
            return FieldVersion;
        if (equals(name, size, "architecture"))
            return FieldArchitecture;
        if (equals(name, size, "time"))
            return FieldTime;
        if (equals(name, size, "md5sum"))
            return FieldMd5sum;
        return equals(name, size, "dependency") ? FieldDependency : Skip;
    default:
        return Skip;
    }
}

ZelManagerIndexScanner::Step ZelManagerIndexScanner::startElement(const char *name, int size)
{
    Context context = Root;
    if (m_phase == Prolog) {
        // Another root is refused by the XML stream reader, with its name.
        if (!equals(name, size, "vantor-packages"))
            return Refuse;
        m_phase = InRoot;
    } else if (m_phase != InRoot || m_contexts.size() >= DepthLimit) {
        return Refuse;
    } else {
        context = childContext(name, size);
    }
    if (context == Package) {
        m_packageMark = m_out->size();
        m_name = m_maintainer = m_description = Slice();
        m_categories.resize(0);
        m_files.resize(0);
        m_fileCount = 0;
    } else if (context == File) {
        m_version = m_architecture = m_md5sum = Slice();
        m_time = 0;
        m_dependencies.resize(0);
    } else if (context >= FieldName) {
        m_fieldStart = m_out->size();
    }
    m_names.append(name, size);
    m_nameEnds.append(m_names.size());
    m_contexts.append(context);
    return Next;
}

ZelManagerIndexScanner::Step ZelManagerIndexScanner::endElement()
{
    const Context context = m_contexts.takeLast();
    m_nameEnds.removeLast();
    m_names.resize(m_nameEnds.isEmpty() ? 0 : m_nameEnds.last());
    switch (context) {
    case Root:
        m_phase = Epilog;
        return Next;
    case Package:
        return finishPackage();
    case File:
        m_files << m_version.offset << m_version.size << m_architecture.offset << m_architecture.size << m_time
                << m_md5sum.offset << m_md5sum.size << m_dependencies.size() / 4;
        m_files += m_dependencies;
        ++m_fileCount;
        return Next;
    default:
        if (context >= FieldName)
            finishField(context);
        return Next;
    }
}

void ZelManagerIndexScanner::finishField(Context context)
{
    Slice slice;
    slice.offset = m_fieldStart;
    slice.size = m_out->size() - m_fieldStart;
    const char *text = m_out->constData() + slice.offset;
    switch (context) {
    case FieldName:
        m_name = slice;
        break;
    case FieldMaintainer:
        m_maintainer = slice;
        break;
    case FieldDescription:
        m_description = slice;
        break;
    case FieldCategory:
        m_categories << slice.offset << slice.size;
        break;
    case FieldVersion:
        m_version = slice;
        break;
    case FieldMd5sum:
        m_md5sum = slice;
        break;
    case FieldArchitecture:
        if (equals(text, int(slice.size), "i386") || equals(text, int(slice.size), "amd64")) {
            const bool wide = slice.size == 5;
            m_out->resize(int(slice.offset));
            m_out->append(wide ? "win64" : "win32");
            slice.size = 5;
        }
        m_architecture = slice;
        break;
    case FieldTime:
        m_time = time(slice);
        m_out->resize(int(slice.offset));
        break;
    case FieldDependency:
        dependency(slice);
        break;
    default:
        break;
    }
}

// As the XML stream reader's path reads it: trimmed, then a whole number or
// nothing.
qint64 ZelManagerIndexScanner::time(Slice slice) const
{
    const char *text = m_out->constData() + slice.offset;
    qint64 begin = 0;
    qint64 end = slice.size;
    while (begin < end && isTrimmed(text[begin]))
        ++begin;
    while (end > begin && isTrimmed(text[end - 1]))
        --end;
    if (end > begin && end - begin <= 18) {
        qint64 value = 0;
        qint64 i = begin;
        for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i)
            value = value * 10 + (text[i] - '0');
        if (i == end)
            return value;
    }
    return QString::fromUtf8(text, int(slice.size)).trimmed().toLongLong();
}

// The name and the comparison, split at the first comparison character and
// trimmed; texts beyond ASCII go the way of the XML stream reader's path,
// whose trimming knows every kind of Unicode space.
void ZelManagerIndexScanner::dependency(Slice slice)
{
    const char *text = m_out->constData() + slice.offset;
    if (!isAscii(text, slice.size)) {
        const QPair<QString, QString> split = splitDependency(QString::fromUtf8(text, int(slice.size)));
        m_out->resize(int(slice.offset));
        for (const QString &part : { split.first, split.second }) {
            const QByteArray bytes = part.toUtf8();
            m_dependencies << m_out->size() << bytes.size();
            m_out->append(bytes);
        }
        return;
    }
    qint64 split = 0;
    while (split < slice.size && text[split] != '<' && text[split] != '=' && text[split] != '>' && text[split] != '!')
        ++split;
    for (const auto &part : { qMakePair(qint64(0), split), qMakePair(split, slice.size) }) {
        qint64 begin = part.first;
        qint64 end = part.second;
        while (begin < end && isTrimmed(text[begin]))
            ++begin;
        while (end > begin && isTrimmed(text[end - 1]))
            --end;
        m_dependencies << slice.offset + begin << end - begin;
    }
}

// A package without a name leaves nothing in the batch.
ZelManagerIndexScanner::Step ZelManagerIndexScanner::finishPackage()
{
    if (m_name.size == 0) {
        m_out->resize(m_packageMark);
        return PackageDone;
    }
    QVector<qint64> &items = m_batch->items;
    items << m_name.offset << m_name.size << m_maintainer.offset << m_maintainer.size << m_description.offset
          << m_description.size << m_categories.size() / 2;
    items += m_categories;
    items << m_fileCount;
    items += m_files;
    ++m_batch->packages;
    return PackageDone;
}
