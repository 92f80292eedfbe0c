#ifndef ZELMANAGERINDEXSCANNER_H
#define ZELMANAGERINDEXSCANNER_H

#include <QByteArray>
#include <QVector>

class QIODevice;
class ZelManagerIndexBatch;

// Reads a repository index straight from its UTF-8 bytes, one package at a
// time, several times faster than the XML stream reader: the texts are
// decoded (references resolved, line ends normalised) into the batch's text
// buffer and handed out there, so nothing is allocated per value.
//
// It reads what indexes are made of (the XML declaration, elements, attributes,
// text, references, CDATA sections, comments and processing instructions) and
// keeps the index reader's rules: unknown elements are skipped with their
// content, markup inside a text element is dropped, the last of a repeated
// field counts. It never decides that a document is malformed: at anything
// it does not read (a document type, another encoding, a namespace prefix,
// a name outside plain ASCII) and at anything that breaks the XML rules, it
// gives up, and the reader reads the document again with the XML stream
// reader, which then gives the verdict and the message.
class ZelManagerIndexScanner
{
public:
    enum Result { PackageRead, Ended, GaveUp };

    // device is open for reading; the scanner reads it in blocks of
    // blockSize bytes from where it stands.
    explicit ZelManagerIndexScanner(QIODevice *device, int blockSize = 256 * 1024);

    // Reads the next package and adds it to batch when it has a name
    // (PackageRead either way); Ended once the document ended well. After
    // GaveUp, batch holds nothing of the package that was being read, and
    // the scanner reads no further.
    Result readPackage(ZelManagerIndexBatch &batch);
    // Packages read (with or without a name).
    int packagesRead() const { return m_packagesRead; }

private:
    enum Step { Next, PackageDone, NeedMore, Refuse };
    enum Phase { Prolog, InRoot, Epilog, Finished, Failed };
    enum Context : char {
        Root,
        Package,
        Categories,
        Files,
        File,
        Skip,
        FieldName,
        FieldMaintainer,
        FieldDescription,
        FieldCategory,
        FieldVersion,
        FieldArchitecture,
        FieldTime,
        FieldMd5sum,
        FieldDependency
    };
    struct Slice
    {
        qint64 offset = 0;
        qint64 size = 0;
    };

    bool fill();
    Step token();
    Step text(const char *s, const char *e);
    Step markup(const char *s, const char *e);
    Step startTag(const char *s, const char *e);
    Step endTag(const char *s, const char *e);
    Step comment(const char *s, const char *e);
    Step cdata(const char *s, const char *e);
    Step instruction(const char *s, const char *e);
    Step declaration(const char *p, const char *e, const char **end);
    Step attributeValue(const char *&p, const char *e);
    Step commit(const char *p);

    Step startElement(const char *name, int size);
    Step endElement();
    Context childContext(const char *name, int size) const;
    void finishField(Context context);
    qint64 time(Slice slice) const;
    void dependency(Slice slice);
    Step finishPackage();
    bool keepsText() const { return !m_contexts.isEmpty() && m_contexts.last() >= FieldName; }

    QIODevice *m_device;
    int m_blockSize;
    QByteArray m_buffer; // data from m_pos to m_end, then a zero byte
    int m_pos = 0;
    int m_end = 0;
    bool m_deviceEnded = false;
    bool m_started = false; // a token was read: no XML declaration any more
    Phase m_phase = Prolog;
    int m_packagesRead = 0;

    // The open elements: their names one after another, where each ends,
    // and what each is.
    QByteArray m_names;
    QVector<int> m_nameEnds;
    QVector<Context> m_contexts;
    QVector<int> m_attributes; // start and size of the attribute names of one tag

    // The package being read; texts are slices of the batch's text.
    ZelManagerIndexBatch *m_batch = nullptr;
    QByteArray *m_out = nullptr;
    int m_packageMark = 0;
    int m_fieldStart = 0;
    Slice m_name, m_maintainer, m_description;
    QVector<qint64> m_categories;
    QVector<qint64> m_files; // in the batch's layout
    int m_fileCount = 0;
    Slice m_version, m_architecture, m_md5sum;
    qint64 m_time = 0;
    QVector<qint64> m_dependencies;
};

#endif // ZELMANAGERINDEXSCANNER_H
