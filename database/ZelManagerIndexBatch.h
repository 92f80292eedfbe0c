#ifndef ZELMANAGERINDEXBATCH_H
#define ZELMANAGERINDEXBATCH_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include "database/ZelManagerIndexReader.h"

// Packages of a repository index on their way from the reader to the
// writer: their texts in one UTF-8 buffer, their structure as a list of
// numbers (text offsets and sizes, counts, times). A batch keeps its buffers
// when cleared, so filling it again allocates nothing.
//
// The layout of one package in items: name, maintainer, description (each a
// text: offset and size in text), the number of categories and their texts,
// the number of files and, per file, its version, architecture, time, md5 sum,
// the number of dependencies and their (name, comparison) texts.
class ZelManagerIndexBatch
{
public:
    QByteArray text;
    QVector<qint64> items;
    int packages = 0;

    void clear();
    void add(const ZelManagerIndexReader::Package &package);
    void addText(const QString &value);
};

#endif // ZELMANAGERINDEXBATCH_H
