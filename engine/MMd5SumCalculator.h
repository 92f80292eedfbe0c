#ifndef MMD5SUMCALCULATOR_H
#define MMD5SUMCALCULATOR_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Incremental MD5 message digest (RFC 1321). Feed the bytes in pieces of any
// size with addData(), then take the digest once with calculateMd5Sum(); a
// new sum needs reset() or a new calculator.
class MMd5SumCalculator
{
public:
    MMd5SumCalculator();

    void reset();
    void addData(const QByteArray &data);
    void addData(const char *data, qint64 size);
    // 32 lowercase hexadecimal digits. Finishes the state.
    QString calculateMd5Sum();

private:
    void transform(const uchar *blocks, qint64 count);

    quint32 m_state[4];
    uchar m_buffer[64];
    quint32 m_count[2]; // bytes fed so far: low and high 32-bit halves
};

#endif // MMD5SUMCALCULATOR_H
