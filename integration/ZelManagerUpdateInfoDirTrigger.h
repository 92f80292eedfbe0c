#ifndef ZELMANAGERUPDATEINFODIRTRIGGER_H
#define ZELMANAGERUPDATEINFODIRTRIGGER_H

#include "integration/ZelManagerTrigger.h"

#include <QMap>
#include <QStringList>

// Keeps the Info directory file "share/info/dir" in step with the compressed
// manuals ("*.info.gz") in that folder.
class ZelManagerUpdateInfoDirTrigger : public ZelManagerTrigger
{
public:
    void begin() override;
    void finish() override;
    void removeFile(const QString &path) override;
    void installFile(const QString &path) override;

    // section title -> menu lines, in the order they were read
    using Sections = QMap<QString, QStringList>;

    // Adds the directory entries of one gzip-compressed manual; false (and
    // "sections" unchanged) when it cannot be read or decompressed.
    static bool readManual(const QString &file, Sections &sections);
    static QByteArray dirFileContents(const Sections &sections);

private:
    void rebuild() const;

    bool m_dirty = false;
};

#endif // ZELMANAGERUPDATEINFODIRTRIGGER_H
