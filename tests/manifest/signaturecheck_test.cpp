// The file checks shared by the updater and the release tool, cross-checked
// against openssl (signatures) and sha512sum (digests).
#include "manifest/publickeyblock.h"
#include "manifest/rsaverifier.h"
#include "manifest/signaturecheck.h"
#include "testsandbox.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct ProcessResult
{
    int exitCode = -1;
    QByteArray output;
};

ProcessResult runProcess(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    ProcessResult result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.output = process.readAll();
    return result;
}

ProcessResult openssl(const QStringList &args)
{
    return runProcess(QStringLiteral("openssl"), args);
}

// The release tool's exit code.
int qvxrelease(const QString &command, const QStringList &args)
{
    return runProcess(QStringLiteral(QVX_RELEASE_TOOL), QStringList{command} + args).exitCode;
}

// The shared checks take paths as the file system spells them and report in
// UTF-8; these adapt them to the test's QStrings.
std::string encoded(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

SignatureCheck::MessageSink collectInto(QStringList *messages)
{
    return [messages](const std::string &text) {
        if (messages)
            messages->append(QFile::decodeName(QByteArray::fromStdString(text)));
    };
}

// The updater hands the key to the import inside its 2048-byte block.
std::vector<unsigned char> keyBlock(const QByteArray &der)
{
    std::vector<unsigned char> block(PublicKeyBlock::size, 0);
    std::copy(der.cbegin(), der.cend(), block.begin());
    return block;
}

class SignatureCheckTest : public ::testing::Test
{
public:
    static void SetUpTestSuite()
    {
        RsaVerifier::initCrypto();
        s_Dir = new QTemporaryDir;
        // An independent signer: a key pair made by openssl.
        const QString pem = path(QStringLiteral("openssl.pem"));
        ASSERT_EQ(
            openssl({QStringLiteral("genrsa"), QStringLiteral("-out"), pem, QStringLiteral("1024")})
                .exitCode,
            0);
        ASSERT_EQ(openssl({QStringLiteral("rsa"), QStringLiteral("-in"), pem,
                           QStringLiteral("-RSAPublicKey_out"), QStringLiteral("-outform"),
                           QStringLiteral("DER"), QStringLiteral("-out"),
                           path(QStringLiteral("openssl_public.der"))})
                      .exitCode,
                  0);
    }
    static void TearDownTestSuite()
    {
        delete s_Dir;
        s_Dir = nullptr;
    }

    static QString path(const QString &name) { return s_Dir->filePath(name); }

    // A file of the given size with varied content.
    static QString makeFile(const QString &name, int size)
    {
        QByteArray data(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            data[i] = char((i * 131 + i / 251) & 0xff);
        EXPECT_TRUE(TestSandbox::writeFile(path(name), data));
        return path(name);
    }

    static bool opensslSign(const QString &file, const QStringList &options, const QString &sigPath)
    {
        QStringList args{QStringLiteral("dgst"), QStringLiteral("-sha1")};
        args << options
             << QStringList{QStringLiteral("-sign"), path(QStringLiteral("openssl.pem")),
                            QStringLiteral("-out"), sigPath, file};
        return openssl(args).exitCode == 0;
    }

    static bool checkWithOpensslKey(const QString &file, QStringList *messages = nullptr)
    {
        const auto block =
            keyBlock(TestSandbox::readFile(path(QStringLiteral("openssl_public.der"))));
        return SignatureCheck::checkRsa(encoded(file), block.data(), PublicKeyBlock::size,
                                        collectInto(messages));
    }

    static QTemporaryDir *s_Dir;
};

QTemporaryDir *SignatureCheckTest::s_Dir = nullptr;

const QStringList pss8{QStringLiteral("-sigopt"), QStringLiteral("rsa_padding_mode:pss"),
                       QStringLiteral("-sigopt"), QStringLiteral("rsa_pss_saltlen:8")};

TEST_F(SignatureCheckTest, AcceptsOpensslPssSignature)
{
    // Several sizes around the hashing chunk, and the empty file.
    for (int size : {0, 1, 4096, 1024 * 1024 + 17}) {
        const QString file = makeFile(QStringLiteral("good_%1.ini").arg(size), size);
        ASSERT_TRUE(opensslSign(file, pss8, file + QStringLiteral(".sig")));
        EXPECT_TRUE(checkWithOpensslKey(file)) << size;
    }
}

// Each row spoils one thing; every one must be a failed check, not a throw.
struct BadSignatureCase
{
    const char *name;
    void (*spoil)(const QString &file, const QString &sig);
};

class BadSignatureTest : public SignatureCheckTest,
                         public ::testing::WithParamInterface<BadSignatureCase>
{
};

void signPss8(const QString &file, const QString &sig)
{
    ASSERT_TRUE(SignatureCheckTest::opensslSign(file, pss8, sig));
}

const BadSignatureCase badSignatureCases[] = {
    {"Pkcs1v15Padding",
     [](const QString &file, const QString &sig) {
         ASSERT_TRUE(SignatureCheckTest::opensslSign(file, {}, sig));
     }},
    {"SaltLength20",
     [](const QString &file, const QString &sig) {
         ASSERT_TRUE(SignatureCheckTest::opensslSign(
             file,
             {QStringLiteral("-sigopt"), QStringLiteral("rsa_padding_mode:pss"),
              QStringLiteral("-sigopt"), QStringLiteral("rsa_pss_saltlen:20")},
             sig));
     }},
    {"Sha256Digest",
     [](const QString &file, const QString &sig) {
         QStringList args{QStringLiteral("dgst"), QStringLiteral("-sha256")};
         args << pss8
              << QStringList{QStringLiteral("-sign"),
                             SignatureCheckTest::s_Dir->filePath(QStringLiteral("openssl.pem")),
                             QStringLiteral("-out"), sig, file};
         ASSERT_EQ(openssl(args).exitCode, 0);
     }},
    {"FlippedBitInFile",
     [](const QString &file, const QString &sig) {
         signPss8(file, sig);
         QByteArray data = TestSandbox::readFile(file);
         data[100] = char(data[100] ^ 0x08);
         ASSERT_TRUE(TestSandbox::writeFile(file, data));
     }},
    {"FlippedBitInSignature",
     [](const QString &file, const QString &sig) {
         signPss8(file, sig);
         QByteArray data = TestSandbox::readFile(sig);
         data[60] = char(data[60] ^ 0x01);
         ASSERT_TRUE(TestSandbox::writeFile(sig, data));
     }},
    {"SignatureTooShort",
     [](const QString &file, const QString &sig) {
         signPss8(file, sig);
         ASSERT_TRUE(TestSandbox::writeFile(sig, TestSandbox::readFile(sig).left(127)));
     }},
    {"SignatureTooLong",
     [](const QString &file, const QString &sig) {
         signPss8(file, sig);
         ASSERT_TRUE(TestSandbox::writeFile(sig, TestSandbox::readFile(sig) + '\0'));
     }},
    {"EmptySignature",
     [](const QString &, const QString &sig) {
         ASSERT_TRUE(TestSandbox::writeFile(sig, QByteArray()));
     }},
    {"SignatureAllOnes",
     [](const QString &, const QString &sig) {
         ASSERT_TRUE(TestSandbox::writeFile(sig, QByteArray(128, '\xff')));
     }},
    {"HugeSignatureFile",
     [](const QString &, const QString &sig) {
         ASSERT_TRUE(TestSandbox::writeFile(sig, QByteArray(1 << 20, 'x')));
     }},
    {"MissingSignature", [](const QString &, const QString &) {}},
};

TEST_P(BadSignatureTest, FailsWithoutThrowing)
{
    const QString file =
        makeFile(QStringLiteral("%1.ini").arg(QLatin1String(GetParam().name)), 3000);
    const QString sig = file + QStringLiteral(".sig");
    GetParam().spoil(file, sig);
    bool pass = true;
    EXPECT_NO_THROW(pass = checkWithOpensslKey(file));
    EXPECT_FALSE(pass);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadSignatureTest, ::testing::ValuesIn(badSignatureCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(SignatureCheckTest, UnreadableFilesAreReported)
{
    QStringList messages;
    const QString missing = path(QStringLiteral("missing.ini"));
    EXPECT_FALSE(checkWithOpensslKey(missing, &messages));
    EXPECT_EQ(messages,
              QStringList{QStringLiteral("Could not open file %1 for reading").arg(missing)});

    messages.clear();
    const QString file = makeFile(QStringLiteral("nosig.ini"), 10);
    EXPECT_FALSE(checkWithOpensslKey(file, &messages));
    EXPECT_EQ(messages,
              QStringList{QStringLiteral("Could not open file %1.sig for reading").arg(file)});
}

TEST_F(SignatureCheckTest, MalformedKeyFailsTheCheck)
{
    const QString file = makeFile(QStringLiteral("badkey.ini"), 10);
    ASSERT_TRUE(opensslSign(file, pss8, file + QStringLiteral(".sig")));
    QByteArray der = TestSandbox::readFile(path(QStringLiteral("openssl_public.der")));
    for (QByteArray key : {QByteArray(), der.left(70), QByteArray("not a key")}) {
        const auto block = keyBlock(key);
        bool pass = true;
        EXPECT_NO_THROW(
            pass = SignatureCheck::checkRsa(encoded(file), block.data(), PublicKeyBlock::size, {}));
        EXPECT_FALSE(pass);
    }
}

TEST_F(SignatureCheckTest, EmbeddedBlockHoldsConfiguredKey)
{
    const QByteArray der = TestSandbox::readFile(QStringLiteral(QVX_TEST_EMBEDDED_KEY));
    ASSERT_EQ(der.size(), 140);
    const QByteArray block(reinterpret_cast<const char *>(PublicKeyBlock::data),
                           PublicKeyBlock::size);
    EXPECT_EQ(block.left(der.size()), der);
    EXPECT_EQ(block.mid(der.size()), QByteArray(int(PublicKeyBlock::size) - der.size(), '\0'));
}

// Digests against sha512sum; expected text in either case.
TEST_F(SignatureCheckTest, Sha512MatchesSha512sum)
{
    for (int size : {0, 1, 1024 * 1024, 3 * 1024 * 1024 + 5}) {
        const QString file = makeFile(QStringLiteral("digest_%1.bin").arg(size), size);
        const ProcessResult sum = runProcess(QStringLiteral("sha512sum"), {file});
        ASSERT_EQ(sum.exitCode, 0);
        const QString expected = QString::fromLatin1(sum.output.left(128));
        EXPECT_TRUE(SignatureCheck::checkSha512(encoded(file), expected.toStdString(), {})) << size;
        EXPECT_TRUE(
            SignatureCheck::checkSha512(encoded(file), expected.toUpper().toStdString(), {}))
            << size;
        QString wrong = expected;
        wrong[5] = wrong[5] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
        EXPECT_FALSE(SignatureCheck::checkSha512(encoded(file), wrong.toStdString(), {})) << size;
        EXPECT_FALSE(
            SignatureCheck::checkSha512(encoded(file), expected.left(127).toStdString(), {}))
            << size;
    }
    QStringList messages;
    const QString missing = path(QStringLiteral("nothing.bin"));
    EXPECT_FALSE(SignatureCheck::checkSha512(encoded(missing), std::string(128, '0'),
                                             collectInto(&messages)));
    EXPECT_EQ(messages,
              QStringList{QStringLiteral("Could not open file %1 for reading").arg(missing)});
}

// The release tool's signing side, against openssl in both directions.
class ReleaseSigningTest : public SignatureCheckTest
{
};

TEST_F(ReleaseSigningTest, KeygenWritesDerKeysOpensslReads)
{
    const QString priv = path(QStringLiteral("tool_private.der"));
    const QString pub = path(QStringLiteral("tool_public.der"));
    ASSERT_EQ(qvxrelease(QStringLiteral("keygen"), {priv, pub}), 0);
    const ProcessResult pubText =
        openssl({QStringLiteral("rsa"), QStringLiteral("-RSAPublicKey_in"),
                 QStringLiteral("-inform"), QStringLiteral("DER"), QStringLiteral("-in"), pub,
                 QStringLiteral("-noout"), QStringLiteral("-text")});
    ASSERT_EQ(pubText.exitCode, 0) << pubText.output.constData();
    EXPECT_TRUE(pubText.output.contains("Public-Key: (1024 bit)")) << pubText.output.constData();
    EXPECT_EQ(TestSandbox::readFile(pub).size(), 140);
    const ProcessResult privCheck =
        openssl({QStringLiteral("rsa"), QStringLiteral("-inform"), QStringLiteral("DER"),
                 QStringLiteral("-in"), priv, QStringLiteral("-check"), QStringLiteral("-noout")});
    EXPECT_EQ(privCheck.exitCode, 0) << privCheck.output.constData();
    EXPECT_EQ(QFile::permissions(priv) & (QFile::ReadOther | QFile::ReadGroup), 0);
}

TEST_F(ReleaseSigningTest, ToolSignatureVerifiesWithOpensslAndTool)
{
    const QString priv = path(QStringLiteral("sign_private.der"));
    const QString pub = path(QStringLiteral("sign_public.der"));
    ASSERT_EQ(qvxrelease(QStringLiteral("keygen"), {priv, pub}), 0);
    const QString file = makeFile(QStringLiteral("product.ini"), 5000);
    ASSERT_EQ(qvxrelease(QStringLiteral("sign"), {priv, file}), 0);
    const QString sig = file + QStringLiteral(".sig");
    EXPECT_EQ(TestSandbox::readFile(sig).size(), 128);

    // openssl pkeyutl over the SHA-1 digest, PSS with MGF1-SHA-1 and salt 8.
    const QString pem = path(QStringLiteral("sign_public.pem"));
    ASSERT_EQ(openssl({QStringLiteral("rsa"), QStringLiteral("-RSAPublicKey_in"),
                       QStringLiteral("-inform"), QStringLiteral("DER"), QStringLiteral("-in"), pub,
                       QStringLiteral("-pubout"), QStringLiteral("-out"), pem})
                  .exitCode,
              0);
    const QString digest = path(QStringLiteral("product.sha1"));
    ASSERT_EQ(openssl({QStringLiteral("dgst"), QStringLiteral("-sha1"), QStringLiteral("-binary"),
                       QStringLiteral("-out"), digest, file})
                  .exitCode,
              0);
    const QStringList verify{QStringLiteral("pkeyutl"),
                             QStringLiteral("-verify"),
                             QStringLiteral("-pubin"),
                             QStringLiteral("-inkey"),
                             pem,
                             QStringLiteral("-in"),
                             digest,
                             QStringLiteral("-sigfile"),
                             sig,
                             QStringLiteral("-pkeyopt"),
                             QStringLiteral("digest:sha1"),
                             QStringLiteral("-pkeyopt"),
                             QStringLiteral("rsa_padding_mode:pss"),
                             QStringLiteral("-pkeyopt"),
                             QStringLiteral("rsa_pss_saltlen:8"),
                             QStringLiteral("-pkeyopt"),
                             QStringLiteral("rsa_mgf1_md:sha1")};
    const ProcessResult accepted = openssl(verify);
    EXPECT_EQ(accepted.exitCode, 0) << accepted.output.constData();
    EXPECT_TRUE(accepted.output.contains("Signature Verified Successfully"));

    EXPECT_EQ(qvxrelease(QStringLiteral("verify"), {pub, file}), 0);
    // Another key, or a changed file, fails.
    EXPECT_EQ(
        qvxrelease(QStringLiteral("verify"), {path(QStringLiteral("openssl_public.der")), file}),
        1);
    QByteArray data = TestSandbox::readFile(file);
    data[0] = char(data[0] ^ 1);
    ASSERT_TRUE(TestSandbox::writeFile(file, data));
    EXPECT_EQ(qvxrelease(QStringLiteral("verify"), {pub, file}), 1);
    ASSERT_EQ(openssl({QStringLiteral("dgst"), QStringLiteral("-sha1"), QStringLiteral("-binary"),
                       QStringLiteral("-out"), digest, file})
                  .exitCode,
              0);
    EXPECT_NE(openssl(verify).exitCode, 0);
}

TEST_F(ReleaseSigningTest, DemoKeyPairMatchesEmbeddedKey)
{
    if (TestSandbox::readFile(QStringLiteral(QVX_TEST_EMBEDDED_KEY)) !=
        TestSandbox::readFile(QStringLiteral(QVX_TEST_PUBLIC_KEY)))
        GTEST_SKIP() << "built with a release key other than the demo key";
    const QString file = makeFile(QStringLiteral("demo.ini"), 700);
    ASSERT_EQ(qvxrelease(QStringLiteral("sign"), {QStringLiteral(QVX_TEST_PRIVATE_KEY), file}), 0);
    EXPECT_TRUE(
        SignatureCheck::checkRsa(encoded(file), PublicKeyBlock::data, PublicKeyBlock::size, {}));
}

TEST_F(ReleaseSigningTest, FailuresAndUsageErrors)
{
    const QString file = makeFile(QStringLiteral("usage.ini"), 10);
    const QString pub = QStringLiteral(QVX_TEST_PUBLIC_KEY);
    const QString missing = path(QStringLiteral("missing"));
    struct Row
    {
        const char *command;
        QStringList args;
        int exitCode;
    } rows[] = {
        {"keygen", {}, 2},
        {"keygen", {missing}, 2},
        {"sign", {pub}, 2},
        {"sign", {pub, file, file}, 2},
        {"verify", {}, 2},
        {"sign", {pub, file}, 1}, // a public key cannot sign
        {"sign", {missing, file}, 1},
        {"sign", {QStringLiteral(QVX_TEST_PRIVATE_KEY), missing}, 1},
        {"verify", {pub, file}, 1}, // no .sig
        {"verify", {missing, file}, 1},
        {"keygen", {path(QStringLiteral("no/dir/a")), path(QStringLiteral("no/dir/b"))}, 1},
    };
    for (const Row &row : rows)
        EXPECT_EQ(qvxrelease(QLatin1String(row.command), row.args), row.exitCode)
            << row.args.join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(QFile::exists(file + QStringLiteral(".sig")));
}

} // namespace
