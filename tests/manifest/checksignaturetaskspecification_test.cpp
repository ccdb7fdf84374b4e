// The check task around CheckSigFunc: what it reports, in which order, and
// that a result arriving after a reset is dropped.
#include "manifest/checksigfunc.h"
#include "manifest/checksignaturetaskspecification.h"
#include "manifest/rsaverifier.h"
#include "testsandbox.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

namespace {

constexpr qreal weight = 0.25;

class CheckTaskTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { RsaVerifier::initCrypto(); }

    void SetUp() override
    {
        m_File = m_Dir.filePath(QStringLiteral("file.bin"));
        ASSERT_TRUE(TestSandbox::writeFile(m_File, QByteArray(70000, 'q')));
        m_Digest = QString::fromLatin1(
            QCryptographicHash::hash(QByteArray(70000, 'q'), QCryptographicHash::Sha512).toHex());
    }

    // Runs a check task to its end and returns its signals in order.
    QStringList run(const QString &expected, bool failOnMismatch,
                    TaskSpecification::TaskState *state = nullptr)
    {
        auto *task =
            new CheckSignatureTaskSpecification(m_File, expected, failOnMismatch, &m_Owner, weight);
        QStringList lines;
        bool ended = false;
        QObject::connect(task, &TaskSpecification::message, [&lines](const QString &text) {
            lines << QStringLiteral("message: ") + text;
        });
        QObject::connect(task, &CheckSignatureTaskSpecification::checkDone,
                         [&lines, task](bool pass, CheckSignatureTaskSpecification *from) {
                             EXPECT_EQ(from, task);
                             EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_RUNNING);
                             lines << QStringLiteral("checkDone %1").arg(pass);
                         });
        QObject::connect(task, &TaskSpecification::finished, [&]() {
            lines << QStringLiteral("finished");
            ended = true;
        });
        QObject::connect(task, &TaskSpecification::canceled, [&]() {
            lines << QStringLiteral("canceled");
            ended = true;
        });
        task->execute();
        EXPECT_TRUE(QTest::qWaitFor([&ended]() { return ended; }, 10000));
        if (state)
            *state = task->m_TaskState;
        return lines;
    }

    QTemporaryDir m_Dir;
    QObject m_Owner;
    QString m_File;
    QString m_Digest;
};

TEST_F(CheckTaskTest, MatchingDigestPassesInEitherCase)
{
    TaskSpecification::TaskState state;
    for (const QString &digest : {m_Digest, m_Digest.toUpper()}) {
        EXPECT_EQ(run(digest, true, &state),
                  (QStringList{QStringLiteral("checkDone 1"), QStringLiteral("finished")}));
        EXPECT_EQ(state, TaskSpecification::TASK_FINISHED);
    }
}

TEST_F(CheckTaskTest, EmptyFileHasTheDigestOfNothing)
{
    ASSERT_TRUE(TestSandbox::writeFile(m_File, QByteArray()));
    const QString empty = QString::fromLatin1(
        QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha512).toHex());
    EXPECT_EQ(run(empty, true),
              (QStringList{QStringLiteral("checkDone 1"), QStringLiteral("finished")}));
}

TEST_F(CheckTaskTest, MismatchReportsThenFailsOrFinishes)
{
    QString wrong = m_Digest;
    wrong[0] = wrong[0] == QLatin1Char('a') ? QLatin1Char('b') : QLatin1Char('a');
    const QString failed = QStringLiteral("message: Signature check failed for ") + m_File;
    TaskSpecification::TaskState state;
    EXPECT_EQ(run(wrong, false, &state),
              (QStringList{failed, QStringLiteral("checkDone 0"), QStringLiteral("finished")}));
    EXPECT_EQ(state, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(run(wrong, true, &state),
              (QStringList{failed, QStringLiteral("checkDone 0"), QStringLiteral("canceled")}));
    EXPECT_EQ(state, TaskSpecification::TASK_FAILED);
}

TEST_F(CheckTaskTest, EmptyDigestNeedsSignatureFile)
{
    // No ".sig" beside the file: the RSA check cannot pass.
    const QString failed = QStringLiteral("message: Signature check failed for ") + m_File;
    EXPECT_EQ(
        run(QString(), true),
        (QStringList{QStringLiteral("message: Could not open file %1.sig for reading").arg(m_File),
                     failed, QStringLiteral("checkDone 0"), QStringLiteral("canceled")}));
}

TEST_F(CheckTaskTest, SignatureWithEmbeddedKey)
{
    // Signed with the demo key, which tests build into the updater.
    QProcess tool;
    tool.start(QStringLiteral(QVX_RELEASE_TOOL),
               {QStringLiteral("sign"), QStringLiteral(QVX_TEST_PRIVATE_KEY), m_File});
    ASSERT_TRUE(tool.waitForFinished(30000));
    ASSERT_EQ(tool.exitCode(), 0);
    if (TestSandbox::readFile(QStringLiteral(QVX_TEST_EMBEDDED_KEY)) !=
        TestSandbox::readFile(QStringLiteral(QVX_TEST_PUBLIC_KEY)))
        GTEST_SKIP() << "built with a release key other than the demo key";
    EXPECT_EQ(run(QString(), true),
              (QStringList{QStringLiteral("checkDone 1"), QStringLiteral("finished")}));
    CheckSigFunc direct(m_File, QString());
    EXPECT_TRUE(direct.run());
}

TEST_F(CheckTaskTest, ResultAfterResetIsDropped)
{
    auto *task = new CheckSignatureTaskSpecification(m_File, m_Digest, true, &m_Owner, weight);
    int signalsSeen = 0;
    auto count = [&signalsSeen]() { ++signalsSeen; };
    QObject::connect(task, &CheckSignatureTaskSpecification::checkDone, count);
    QObject::connect(task, &TaskSpecification::finished, count);
    QObject::connect(task, &TaskSpecification::canceled, count);
    QObject::connect(task, &TaskSpecification::message, count);
    task->execute();
    task->reset(); // waits for the worker; its result is already queued
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_IDLE);
    QTest::qWait(100);
    EXPECT_EQ(signalsSeen, 0);
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_IDLE);
}

} // namespace
