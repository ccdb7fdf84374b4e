#pragma once

#include "tasks/asynctaskspecification.h"

#include <QString>

// Checks one file on a worker thread with CheckSigFunc: its SHA-512 against
// the expected digest, or (expected digest empty) its RSA signature.
//
// checkDone reports the result before the task ends. With failOnMismatch a
// failed check also fails the task; without it the task finishes either way
// and the parent decides on checkDone.
class CheckSignatureTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT

public:
    CheckSignatureTaskSpecification(const QString &filePath, const QString &expectedSha512,
                                    bool failOnMismatch, QObject *parent, qreal weight);
    ~CheckSignatureTaskSpecification() override;

    // The path the failure line names, when the checked file is still kept
    // under another name (a replacement checked before it is put in place).
    void setReportedPath(const QString &path);

signals:
    void checkDone(bool pass, CheckSignatureTaskSpecification *task);

protected:
    ASyncFunc *createFunc() override;
    void runDone(bool ok) override;

    QString m_FilePath;
    QString m_ReportedPath;
    QString m_ExpectedSha512;
    bool m_FailOnMismatch;

private:
    Q_DISABLE_COPY(CheckSignatureTaskSpecification)
};
