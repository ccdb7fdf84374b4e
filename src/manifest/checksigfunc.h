#pragma once

#include "tasks/asynctaskspecification.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>

// The one verification routine of the updater, run on a worker thread: the
// SHA-512 of the file against an expected digest when one is given, otherwise
// the RSA signature in the file's ".sig" companion against the release key
// built into the updater. Every failure is a failed check (run returns false);
// read failures are also reported through message.
class CheckSigFunc : public ASyncFunc
{
    Q_OBJECT

public:
    // expectedSha512: 128 hexadecimal digits in either case, or empty for the
    // RSA check.
    CheckSigFunc(const QString &filePath, const QString &expectedSha512);
    ~CheckSigFunc() override;

    bool run() override;
    bool checkRSA();
    bool checkSHA512();
    // Reads a small file whole (the signature); false after a message.
    bool readWholeFile(const QString &path, QByteArray &out);

protected:
    QString m_FilePath;
    QString m_ExpectedSha512;

private:
    // Hands the shared checks' texts on through message.
    std::function<void(const std::string &)> messageSink();
};
