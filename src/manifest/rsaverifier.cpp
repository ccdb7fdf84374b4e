#include "rsaverifier.h"

#include <utility>

crypt_exception::crypt_exception(std::string message)
    : m_Message(std::move(message))
{
}

crypt_exception::~crypt_exception() = default;

const char *crypt_exception::what() const noexcept
{
    return m_Message.c_str();
}

namespace RsaVerifier {

namespace {
// Written once by initCrypto on the main thread before any check starts; only
// read afterwards.
int g_sha1Index = -1;
int g_prngIndex = -1;

constexpr unsigned long sha1Size = 20;
} // namespace

void initCrypto()
{
    const int prng = register_prng(&sprng_desc);
    ltc_mp = ltm_desc;
    const int hash = register_hash(&sha1_desc);
    if (prng == -1 || hash == -1)
        throw crypt_exception("Error registering sha1");
    g_sha1Index = find_hash("sha1");
    g_prngIndex = find_prng("sprng");
    if (g_sha1Index == -1 || g_prngIndex == -1)
        throw crypt_exception("Error registering sha1");
}

int sha1Index()
{
    return g_sha1Index;
}

int prngIndex()
{
    return g_prngIndex;
}

void importKey(const unsigned char *bytes, unsigned long length, rsa_key *key)
{
    // Without a big-number provider libtomcrypt aborts the process on its
    // argument check; a missing initCrypto must fail the check instead.
    if (ltc_mp.name == nullptr)
        checkCrypt("rsa_import", CRYPT_INVALID_ARG);
    checkCrypt("rsa_import", rsa_import(bytes, length, key));
}

bool verifySignature(rsa_key *key, const unsigned char *message, unsigned long messageLength,
                     const unsigned char *signature, unsigned long signatureLength)
{
    if (g_sha1Index == -1)
        checkCrypt("rsa_verify_hash", CRYPT_INVALID_HASH);
    unsigned char digest[sha1Size];
    unsigned long digestLength = sizeof digest;
    checkCrypt("rsa_verify_hash",
               hash_memory(g_sha1Index, message, messageLength, digest, &digestLength));
    return verifyDigest(key, digest, signature, signatureLength);
}

bool verifyDigest(rsa_key *key, const unsigned char *sha1Digest, const unsigned char *signature,
                  unsigned long signatureLength)
{
    if (g_sha1Index == -1)
        checkCrypt("rsa_verify_hash", CRYPT_INVALID_HASH);
    int stat = 0;
    checkCrypt("rsa_verify_hash",
               rsa_verify_hash_ex(signature, signatureLength, sha1Digest, sha1Size, LTC_PKCS_1_PSS,
                                  g_sha1Index, saltLength, &stat, key));
    return stat == 1;
}

void checkCrypt(const char *operation, int result)
{
    if (result == CRYPT_OK)
        return;
    throw crypt_exception(std::string(operation) + ": " + error_to_string(result));
}

} // namespace RsaVerifier
