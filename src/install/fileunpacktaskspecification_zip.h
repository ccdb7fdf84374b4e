#pragma once

#include "install/slowfileopspecification.h"

// Unpacks a gzip file into its destination on the thread pool. Data that is
// not gzip is copied unchanged (zlib reads it transparently). A failed unpack
// removes the destination, so no partial file is left behind.
class FileUnpackTaskSpecification_zip : public SlowFileOpSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(FileUnpackTaskSpecification_zip)

public:
    FileUnpackTaskSpecification_zip(RollbackDataList *rollbackList, const QString &srcFile,
                                    const QString &dstFile, QObject *parent, qreal weight);
    ~FileUnpackTaskSpecification_zip() override;

protected:
    ASyncFunc *createFunc() override;
};

class FileUnpackFunc_Zip : public SlowFileOpFunc
{
    Q_OBJECT
    Q_DISABLE_COPY(FileUnpackFunc_Zip)

public:
    FileUnpackFunc_Zip(const QString &srcFile, const QString &dstFile);
    ~FileUnpackFunc_Zip() override;

    bool run() override;
    // Streams the gzip data of source into destination (created or
    // truncated); false on any read or write failure.
    static bool gunzipFile(const QString &destination, const QString &source);
};
