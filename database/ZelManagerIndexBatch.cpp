#include "database/ZelManagerIndexBatch.h"

void ZelManagerIndexBatch::clear()
{
    text.resize(0);
    items.resize(0);
    packages = 0;
}

void ZelManagerIndexBatch::addText(const QString &value)
{
    const QByteArray bytes = value.toUtf8();
    items.append(text.size());
    items.append(bytes.size());
    text += bytes;
}

void ZelManagerIndexBatch::add(const ZelManagerIndexReader::Package &package)
{
    addText(package.name);
    addText(package.maintainer);
    addText(package.description);
    items.append(package.categories.size());
    for (const QString &category : package.categories)
        addText(category);
    items.append(package.files.size());
    for (const ZelManagerIndexReader::File &file : package.files) {
        addText(file.version);
        addText(file.architecture);
        items.append(file.time);
        addText(file.md5sum);
        items.append(file.dependencies.size());
        for (const QPair<QString, QString> &dependency : file.dependencies) {
            addText(dependency.first);
            addText(dependency.second);
        }
    }
    ++packages;
}
