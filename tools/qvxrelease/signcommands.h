#pragma once

#include <string>
#include <vector>

// The signing side of the release tool. Each command takes the arguments that
// follow its name and returns the tool's exit code: 0 success, 1 a failed
// check or operation (with a message on stderr), 2 a usage error.
namespace SignCommands {

// keygen PRIVATE_OUT PUBLIC_OUT: a new 1024-bit RSA key pair, both halves as
// DER PKCS #1 (RSAPrivateKey, RSAPublicKey); the public half is what a product
// build embeds with QVX_PUBLIC_KEY.
int keygen(const std::vector<std::string> &args);

// sign PRIVATE FILE: writes FILE.sig, the RSASSA-PSS signature (SHA-1,
// MGF1-SHA-1, salt length 8) of FILE's bytes.
int sign(const std::vector<std::string> &args);

// verify PUBLIC FILE: checks FILE.sig with the updater's own check, the key
// laid out as the updater's embedded key block. 0 when it passes, 1 when not.
int verify(const std::vector<std::string> &args);

} // namespace SignCommands
