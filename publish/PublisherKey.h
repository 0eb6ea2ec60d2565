#pragma once
// The publisher's Ed25519 keys in the files openssl writes: the private key
// of `openssl genpkey -algorithm ed25519` (PEM, PKCS#8 "PRIVATE KEY") and
// the public key of `openssl pkey -pubout` (PEM, "PUBLIC KEY").
#include "platform/Crypto.h"

#include <optional>
#include <string>
#include <string_view>

// The private key (its 32-byte seed) from the PEM text of the file `name`.
// Raises EPublishRefused naming the file when the text is no unencrypted
// Ed25519 private key.
platform::TEd25519Seed ParsePrivateKeyPem(std::string_view pem, const std::string& name);

// The public key from a PEM text holding a public or a private key;
// nullopt for anything else.
std::optional<platform::TEd25519PublicKey> ParsePublicKeyPem(std::string_view pem);

// Reads the private key file (ANSI path). Raises EFOpenError when it cannot
// be read, EPublishRefused as above.
platform::TEd25519Seed ReadPrivateKeyFile(const std::string& path);
