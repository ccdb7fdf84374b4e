#include "manifest/sha512.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

QByteArray hex(const Sha512::Digest &digest)
{
    return QByteArray(reinterpret_cast<const char *>(digest.data()), int(digest.size())).toHex();
}

TEST(Sha512Test, KnownVectors)
{
    // The two-block vector puts the padding into a block of its own.
    EXPECT_EQ(hex(Sha512::hash("abc", 3)),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
              "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    const char twoBlocks[] = "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
                             "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
    EXPECT_EQ(hex(Sha512::hash(twoBlocks, sizeof twoBlocks - 1)),
              "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
              "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909");
    EXPECT_EQ(hex(Sha512::hash("", 0)),
              "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
              "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e");
}

// Every length around the block and padding boundaries, fed in uneven pieces,
// against Qt's independent implementation.
TEST(Sha512Test, MatchesQtForEveryBoundaryAndChunking)
{
    QRandomGenerator random(1234);
    QByteArray data(3 * 1024 + 7, Qt::Uninitialized);
    for (char &byte : data)
        byte = char(random.bounded(256));

    for (int size = 0; size <= data.size(); size += (size < 400 ? 1 : 97)) {
        const QByteArray part = data.left(size);
        const QByteArray expected =
            QCryptographicHash::hash(part, QCryptographicHash::Sha512).toHex();
        SCOPED_TRACE(size);
        EXPECT_EQ(hex(Sha512::hash(part.constData(), size_t(size))), expected);

        Sha512 pieces;
        int offset = 0;
        while (offset < size) {
            const int n = qMin(size - offset, int(random.bounded(1, 300)));
            pieces.update(part.constData() + offset, size_t(n));
            offset += n;
        }
        EXPECT_EQ(hex(pieces.finish()), expected);
    }
}

} // namespace
