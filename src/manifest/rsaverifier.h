#pragma once

#include <exception>
#include <string>

#include <tomcrypt.h>

// The one exception type of the updater: failures of the cryptography layer
// itself (registration, key import, malformed signature input). It never
// leaves this layer's callers: the signature check turns it into a failed
// check, the update engine into an error report.
class crypt_exception : public std::exception
{
public:
    explicit crypt_exception(std::string message);
    ~crypt_exception() override;
    const char *what() const noexcept override;

private:
    std::string m_Message;
};

// A thin layer over libtomcrypt: RSASSA-PSS verification with SHA-1, MGF1-SHA-1
// and a salt length of 8 bytes. initCrypto must have run once before any other
// call; afterwards the functions only read the shared registration tables, so
// several threads may verify at the same time.
namespace RsaVerifier {

// Number of salt bytes in every release signature.
constexpr unsigned long saltLength = 8;

// Registers the sprng generator and the sha1 hash and installs LibTomMath as
// the big-number provider. Throws crypt_exception("Error registering sha1")
// when a registration fails. Safe to call more than once.
void initCrypto();

// Indices of sha1 and sprng in libtomcrypt's tables, or -1 before initCrypto.
int sha1Index();
int prngIndex();

// Imports a DER PKCS #1 RSA key (public or private) from bytes[0..length).
// Reading stops at the end of the DER SEQUENCE, so trailing bytes are ignored.
// Throws crypt_exception on malformed input. The caller frees the key with
// rsa_free.
void importKey(const unsigned char *bytes, unsigned long length, rsa_key *key);

// SHA-1 of the message, then verifyDigest.
bool verifySignature(rsa_key *key, const unsigned char *message, unsigned long messageLength,
                     const unsigned char *signature, unsigned long signatureLength);

// True when signature is a valid PSS signature of the 20-byte SHA-1 digest.
// A well-formed but wrong signature yields false; a signature libtomcrypt
// cannot even decode (wrong length, wrong padding) throws crypt_exception.
bool verifyDigest(rsa_key *key, const unsigned char *sha1Digest, const unsigned char *signature,
                  unsigned long signatureLength);

// Throws crypt_exception("<operation>: <libtomcrypt's text>") unless result is
// CRYPT_OK.
void checkCrypt(const char *operation, int result);

// An rsa_key freed with its holder once something was loaded into it (set
// loaded after importKey or rsa_make_key succeeded).
struct KeyHolder
{
    rsa_key key{};
    bool loaded = false;
    KeyHolder() = default;
    KeyHolder(const KeyHolder &) = delete;
    KeyHolder &operator=(const KeyHolder &) = delete;
    ~KeyHolder()
    {
        if (loaded)
            rsa_free(&key);
    }
};

} // namespace RsaVerifier
