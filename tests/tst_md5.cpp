#include "engine/MMd5SumCalculator.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

class TestMd5 : public QObject
{
    Q_OBJECT

private:
    static QString md5Of(const QByteArray &data)
    {
        MMd5SumCalculator md5;
        md5.addData(data);
        return md5.calculateMd5Sum();
    }

    static QString md5sumTool(const QByteArray &data)
    {
        QProcess process;
        process.start(QStringLiteral("md5sum"), { QStringLiteral("-") });
        if (!process.waitForStarted())
            return QString();
        process.write(data);
        process.closeWriteChannel();
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            return QString();
        return QString::fromLatin1(process.readAllStandardOutput().left(32));
    }

    // Pieces of 0 to 200 bytes with an occasional large one, so that block
    // boundaries fall at every offset inside a piece.
    static QString md5InPieces(const QByteArray &data, quint32 seed)
    {
        QRandomGenerator random(seed);
        MMd5SumCalculator md5;
        int offset = 0;
        while (offset < data.size()) {
            int piece = random.bounded(8) == 0 ? random.bounded(70000) : random.bounded(201);
            piece = qMin(piece, data.size() - offset);
            md5.addData(data.mid(offset, piece));
            offset += piece;
        }
        return md5.calculateMd5Sum();
    }

private slots:
    void rfc1321Suite_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("digest");
        QTest::newRow("empty") << QByteArray() << "d41d8cd98f00b204e9800998ecf8427e";
        QTest::newRow("a") << QByteArray("a") << "0cc175b9c0f1b6a831c399e269772661";
        QTest::newRow("abc") << QByteArray("abc") << "900150983cd24fb0d6963f7d28e17f72";
        QTest::newRow("message digest") << QByteArray("message digest") << "f96b697d7cb7938d525a2f31aaf161d0";
        QTest::newRow("alphabet") << QByteArray("abcdefghijklmnopqrstuvwxyz") << "c3fcd3d76192e4007dfb496cca67e13b";
        QTest::newRow("alphanumeric") << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
                                      << "d174ab98d277d9f5a5611c2c9f419d9f";
        QTest::newRow("digits") << QByteArray("1234567890").repeated(8) << "57edf4a22be3c955ac49da2e2107b67a";
    }

    void rfc1321Suite()
    {
        QFETCH(QByteArray, message);
        QFETCH(QString, digest);
        QCOMPARE(md5Of(message), digest);
        // The same message one byte at a time.
        MMd5SumCalculator md5;
        for (char byte : message)
            md5.addData(QByteArray(1, byte));
        QCOMPARE(md5.calculateMd5Sum(), digest);
    }

    void paddingBoundariesMatchMd5sum()
    {
        // Lengths around the 56-byte padding limit and the 64-byte block.
        const QByteArray data = QByteArray("0123456789abcdef").repeated(16);
        for (int length : { 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129 })
            QCOMPARE(md5Of(data.left(length)), md5sumTool(data.left(length)));
    }

    void randomDataInUnevenPiecesMatchesMd5sum()
    {
        QRandomGenerator random(4711);
        for (int size : { 1, 4093, 1 << 20, 3 * (1 << 20) + 17 }) {
            QByteArray data(size, Qt::Uninitialized);
            for (char &byte : data)
                byte = char(random.bounded(256));
            const QString expected = md5sumTool(data);
            QCOMPARE(expected.size(), 32);
            QCOMPARE(md5Of(data), expected);
            QCOMPARE(md5InPieces(data, quint32(size)), expected);
        }
    }

    void resetStartsANewSum()
    {
        MMd5SumCalculator md5;
        md5.addData(QByteArray("something else entirely, longer than one block of sixty-four bytes......"));
        md5.calculateMd5Sum();
        md5.reset();
        md5.addData(QByteArray("abc"));
        QCOMPARE(md5.calculateMd5Sum(), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    }

    void pointerOverloadIgnoresEmptyInput()
    {
        MMd5SumCalculator md5;
        md5.addData(nullptr, 0);
        md5.addData("abc", 3);
        md5.addData("zzz", -1);
        QCOMPARE(md5.calculateMd5Sum(), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    }
};

QTEST_GUILESS_MAIN(TestMd5)
#include "tst_md5.moc"
