// The icon theme index. The input is a theme's "index.theme", in a theme
// folder that holds sized, scalable and symbolic icon folders. The trigger
// reads the index, merges the scanned folders and writes it; a second update
// with nothing changed on disk must keep the list of icon folders and write
// the same index.
#include "integration/ZelManagerUpdateIconThemeTrigger.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QBuffer>
#include <QImage>

namespace {

QByteArray s_png;

QString themeFolder()
{
    return FuzzSupport::targetPath() + QStringLiteral("/share/icons/fuzz");
}

void makeIcons()
{
    const QString theme = themeFolder();
    for (const char *file : { "48x48/apps/a.png", "16x16/symbolic/places/b.png", "scalable/mimetypes/c.png",
             "scalable/status/d.svg", "32x16/devices/e.png" }) {
        const QString path = theme + QLatin1Char('/') + QLatin1String(file);
        FUZZ_CHECK(FuzzSupport::writeFile(path, path.endsWith(QLatin1String(".png")) ? s_png : QByteArray("<svg")));
    }
}

QStringList describe(const ZelManagerUpdateIconThemeTrigger::Theme &theme)
{
    QStringList folders;
    for (const ZelManagerUpdateIconThemeTrigger::IconFolder &folder : theme.folders) {
        folders << QStringList { folder.name, QString::number(folder.size), QString::number(folder.scale),
            QString::number(folder.minSize), QString::number(folder.maxSize), QString::number(folder.threshold),
            folder.type, folder.context }
                       .join(QLatin1Char('|'));
    }
    folders.sort();
    return folders;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    QImage image(24, 24, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    s_png = png;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputScope scope;
    FuzzSupport::clearFolder(FuzzSupport::targetPath());
    makeIcons();
    const QString index = themeFolder() + QStringLiteral("/index.theme");
    FUZZ_CHECK(FuzzSupport::writeFile(index, QByteArray(reinterpret_cast<const char *>(data), int(size))));

    ZelManagerUpdateIconThemeTrigger::updateTheme(themeFolder());
    const QByteArray firstText = FuzzSupport::readFile(index);
    const ZelManagerUpdateIconThemeTrigger::Theme first = ZelManagerUpdateIconThemeTrigger::readIndex(index);
    ZelManagerUpdateIconThemeTrigger::updateTheme(themeFolder());
    const ZelManagerUpdateIconThemeTrigger::Theme second = ZelManagerUpdateIconThemeTrigger::readIndex(index);
    FUZZ_CHECK(first.directories == second.directories,
        first.directories.join(QLatin1Char(',')) + QStringLiteral(" / ") + second.directories.join(QLatin1Char(',')));
    // Every other key and every folder's values read back as written too
    // (the folders' order may change: new ones are appended, the next read
    // sorts them).
    FUZZ_CHECK(first.keys == second.keys && describe(first) == describe(second),
        QString::fromUtf8(firstText) + QStringLiteral("\n---\n") + QString::fromUtf8(FuzzSupport::readFile(index)));
    return 0;
}
