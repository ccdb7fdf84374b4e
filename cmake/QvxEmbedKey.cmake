# Script mode: cmake -DKEY=<der file> -DOUT=<source file> -P QvxEmbedKey.cmake
#
# Writes the release signer's public key as the updater's constant key block:
# 2048 bytes, the DER key first, zero bytes after it. The key importer stops at
# the end of the DER SEQUENCE, so the padding is never read as key material.

set(block_size 2048)
if(NOT EXISTS "${KEY}")
    message(FATAL_ERROR "QVX_PUBLIC_KEY: ${KEY} does not exist")
endif()
file(READ "${KEY}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR key_size "${hex_length} / 2")
if(key_size EQUAL 0 OR key_size GREATER block_size)
    message(FATAL_ERROR "QVX_PUBLIC_KEY: ${KEY} has ${key_size} bytes; expected 1 to ${block_size}")
endif()
# A DER RSAPublicKey starts with a SEQUENCE tag; anything else (a PEM file, a
# private key in the wrong variable) is caught here rather than by a failing
# signature check on a user's machine.
string(SUBSTRING "${hex}" 0 2 tag)
if(NOT tag STREQUAL "30")
    message(FATAL_ERROR "QVX_PUBLIC_KEY: ${KEY} is not a DER-encoded RSAPublicKey")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUT}.tmp"
"// Generated at build time from ${KEY}; do not edit.
#include \"manifest/publickeyblock.h\"

namespace PublicKeyBlock {
const unsigned char data[size] = {
    ${bytes}
};
const unsigned long keyLength = ${key_size};
} // namespace PublicKeyBlock
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
