#include "fileunpacktaskspecification_zip.h"

#include <QDebug>
#include <QFile>

#include <zlib.h>

FileUnpackTaskSpecification_zip::FileUnpackTaskSpecification_zip(RollbackDataList *rollbackList,
                                                                 const QString &srcFile,
                                                                 const QString &dstFile,
                                                                 QObject *parent, qreal weight)
    : SlowFileOpSpecification(QStringLiteral("Could not unzip '%1' to '%2'").arg(srcFile, dstFile),
                              rollbackList, srcFile, dstFile, parent, weight)
{
}

FileUnpackTaskSpecification_zip::~FileUnpackTaskSpecification_zip() = default;

ASyncFunc *FileUnpackTaskSpecification_zip::createFunc()
{
    return new FileUnpackFunc_Zip(m_SrcFile, m_OutputFile);
}

FileUnpackFunc_Zip::FileUnpackFunc_Zip(const QString &srcFile, const QString &dstFile)
    : SlowFileOpFunc(srcFile, dstFile)
{
}

FileUnpackFunc_Zip::~FileUnpackFunc_Zip() = default;

bool FileUnpackFunc_Zip::run()
{
    if (gunzipFile(m_DstFile, m_SrcFile))
        return true;
    QFile::remove(m_DstFile);
    return false;
}

bool FileUnpackFunc_Zip::gunzipFile(const QString &destination, const QString &source)
{
    QFile out(destination);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug() << "gunzipFile: cannot open" << destination << out.errorString();
        return false;
    }
    gzFile in = gzopen(source.toUtf8().constData(), "rb");
    if (!in) {
        qDebug() << "gunzipFile: cannot open" << source;
        return false;
    }
    gzrewind(in);
    char buffer[16384];
    for (;;) {
        const int n = gzread(in, buffer, sizeof buffer);
        if (n == 0) {
            // gzread reports a stream that ends early (a truncated download)
            // as a plain end of data; only gzerror tells the two apart.
            int code = Z_OK;
            const char *text = gzerror(in, &code);
            if (code != Z_OK) {
                qDebug() << "gunzipFile: truncated data in" << source << text;
                gzclose(in);
                out.close();
                QFile::remove(destination);
                return false;
            }
            // The last write may still sit in QFile's buffer; a short final
            // flush is a failed unpack like any other short write.
            const bool flushed = out.flush();
            out.close();
            gzclose(in);
            if (!flushed)
                QFile::remove(destination);
            return flushed;
        }
        if (n < 0) {
            int code = 0;
            qDebug() << "gunzipFile: corrupt data in" << source << gzerror(in, &code);
            gzclose(in);
            out.close();
            QFile::remove(destination);
            return false;
        }
        if (out.write(buffer, n) != n) {
            qDebug() << "gunzipFile: short write to" << destination << out.errorString();
            gzclose(in);
            out.close();
            QFile::remove(destination);
            return false;
        }
    }
}
