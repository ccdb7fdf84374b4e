#pragma once

// The release signer's RSA public key, compiled into the updater from the
// QVX_PUBLIC_KEY build setting. The block is always 2048 bytes: the DER
// PKCS #1 RSAPublicKey first, zero bytes after it; the whole block is handed to
// the key import, which reads only up to the end of the DER SEQUENCE.
namespace PublicKeyBlock {
constexpr unsigned long size = 2048;
extern const unsigned char data[size];
// Length of the DER key at the start of the block (informational only).
extern const unsigned long keyLength;
} // namespace PublicKeyBlock
