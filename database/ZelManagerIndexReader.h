#ifndef ZELMANAGERINDEXREADER_H
#define ZELMANAGERINDEXREADER_H

#include <QBuffer>
#include <QCoreApplication>
#include <QList>
#include <QPair>
#include <QScopedPointer>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>

class ZelManagerIndexBatch;
class ZelManagerIndexScanner;

// Reads a repository index ("packages.xml", root "vantor-packages") one
// package at a time, taking the data from its device in pieces (it is never
// decoded as a whole). A document whose root element has another name is
// refused at that element, before its body is read. Unknown elements are
// skipped with their content; texts
// are kept as the XML gives them (entities resolved, not trimmed), except the
// dependency texts, which are split into a trimmed name and comparison. The
// document is read to its end: only comments, processing instructions and
// white space may follow the root element.
//
// Packages are read either as Package values (the XML stream reader) or into
// a batch, as UTF-8 texts. A batch is filled by the byte-level scanner; where
// the scanner gives up (at a document type, another encoding, malformed XML
// and the like), the reader reads the device again from its start with the
// XML stream reader, skips the packages already handed out and goes on from
// there, so that what is accepted, and every message, is the XML stream
// reader's. Use one of the two ways for the whole document.
class ZelManagerIndexReader
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerIndexReader)

public:
    struct File
    {
        QString version;
        QString architecture; // "i386" and "amd64" read as "win32" and "win64"
        qint64 time = 0;
        QString md5sum;
        QList<QPair<QString, QString>> dependencies; // (name, comparison)
    };

    struct Package
    {
        QString name; // empty when the index names none
        QString maintainer;
        QString description;
        QStringList categories;
        QList<File> files;
    };

    // data must stay unchanged while the reader lives.
    explicit ZelManagerIndexReader(const QByteArray &data);
    // device is open for reading and outlives the reader; its size, where
    // known, gives the progress.
    explicit ZelManagerIndexReader(QIODevice *device);
    ~ZelManagerIndexReader();

    // The next package of the index; false at the end of the index or at the
    // first error (see atEnd() and errorText()).
    bool readPackage(Package &package);
    // The same, adding the package to batch when it has a name; a device
    // that cannot be read again from its start is read by the XML stream
    // reader alone.
    bool readPackage(ZelManagerIndexBatch &batch);

    // The whole index was read without an error.
    bool atEnd() const { return m_state == Ended; }
    // Why the index could not be read completely; empty otherwise.
    QString errorText() const { return m_errorText; }
    // How far the reading is, 0..100.
    int progress() const;

    static QString canonicalArchitecture(const QString &architecture);

private:
    enum State { BeforeRoot, InRoot, Ended, Failed };

    bool findRoot();
    void readFields(Package &package);
    void readCategories(QStringList &categories);
    void readFiles(QList<File> &files);
    File readFile();
    QString text();
    bool fail();
    void readWithXmlStream();

    QBuffer m_buffer; // the device over data given as bytes
    QIODevice *m_device;
    QXmlStreamReader m_xml;
    QScopedPointer<ZelManagerIndexScanner> m_scanner;
    bool m_scanning = true; // the scanner has not given up (yet)
    qint64 m_start; // where the document starts in the device
    Package m_package;
    State m_state = BeforeRoot;
    QString m_errorText;
};

#endif // ZELMANAGERINDEXREADER_H
