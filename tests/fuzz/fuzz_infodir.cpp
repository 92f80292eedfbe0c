// The Info "dir" rebuild. Input byte 0 chooses whether the rest is a manual's
// text (compressed here the way the installer compresses manuals) or the bytes
// of a "*.info.gz" file as found on disk. The manual is read alone, then the
// trigger rebuilds "dir" from it; the file must be what the directory entries
// read from the manual give.
#include "engine/ZelManagerPackageInstaller.h"
#include "integration/ZelManagerUpdateInfoDirTrigger.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QFile>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    InputScope scope;
    const QString info = FuzzSupport::targetPath() + QStringLiteral("/share/info");
    FuzzSupport::clearFolder(FuzzSupport::targetPath());
    QByteArray manual(reinterpret_cast<const char *>(data) + 1, int(size) - 1);
    if (data[0] % 2 == 0)
        FUZZ_CHECK(ZelManagerPackageInstaller::gzipCompress(manual, QStringLiteral("fuzz.info"), &manual));
    const QString file = info + QStringLiteral("/fuzz.info.gz");
    FUZZ_CHECK(FuzzSupport::writeFile(file, manual));

    ZelManagerUpdateInfoDirTrigger::Sections sections;
    sections.insert(QStringLiteral("Before"), { QStringLiteral("* Kept: (kept).") });
    const ZelManagerUpdateInfoDirTrigger::Sections before = sections;
    const bool read = ZelManagerUpdateInfoDirTrigger::readManual(file, sections);
    if (!read)
        FUZZ_CHECK(sections == before);
    if (data[0] % 2 == 0)
        FUZZ_CHECK(read);

    ZelManagerUpdateInfoDirTrigger::Sections alone;
    ZelManagerUpdateInfoDirTrigger::readManual(file, alone);
    ZelManagerUpdateInfoDirTrigger trigger;
    trigger.begin();
    trigger.installFile(QStringLiteral("share/info/fuzz.info.gz"));
    trigger.finish();
    FUZZ_CHECK(
        FuzzSupport::readFile(info + QStringLiteral("/dir")) == ZelManagerUpdateInfoDirTrigger::dirFileContents(alone));
    return 0;
}
