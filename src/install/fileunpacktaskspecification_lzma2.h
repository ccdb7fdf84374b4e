#pragma once

#include "install/slowfileopspecification.h"

// Unpacks a "._lzma2_" package into its destination on the thread pool. The
// destination is written only once the whole content has been rebuilt and
// matches the package's checksum; a failed unpack leaves it as it was.
class FileUnpackTaskSpecification_lzma2 : public SlowFileOpSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(FileUnpackTaskSpecification_lzma2)

public:
    FileUnpackTaskSpecification_lzma2(RollbackDataList *rollbackList, const QString &srcFile,
                                      const QString &dstFile, QObject *parent, qreal weight);
    ~FileUnpackTaskSpecification_lzma2() override;

protected:
    ASyncFunc *createFunc() override;
};

class FileUnpackFunc_lzma2 : public SlowFileOpFunc
{
    Q_OBJECT
    Q_DISABLE_COPY(FileUnpackFunc_lzma2)

public:
    FileUnpackFunc_lzma2(const QString &srcFile, const QString &dstFile);
    ~FileUnpackFunc_lzma2() override;

    bool run() override;
    static bool unpackFile(const QString &srcFile, const QString &dstFile);
};
