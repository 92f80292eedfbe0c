#ifndef ZELMANAGERINDEXREADER_H
#define ZELMANAGERINDEXREADER_H

#include <QBuffer>
#include <QCoreApplication>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>

// Reads a repository index ("packages.xml", root "vantor-packages") one
// package at a time, taking the data from its device in pieces (it is never
// decoded as a whole). A document whose root element has another name is
// refused at that element, before its body is read. Unknown elements are
// skipped with their content; texts
// are kept as the XML gives them (entities resolved, not trimmed), except the
// dependency texts, which are split into a trimmed name and comparison.
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

    // The next package of the index; false at the end of the index or at the
    // first error (see atEnd() and errorText()).
    bool readPackage(Package &package);

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

    QBuffer m_buffer; // the device over data given as bytes
    QIODevice *m_device;
    QXmlStreamReader m_xml;
    State m_state = BeforeRoot;
    QString m_errorText;
};

#endif // ZELMANAGERINDEXREADER_H
