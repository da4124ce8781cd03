// The OpenSSL primitives the plug-in needs: random bytes, digests, password
// hashing and comparisons that take the same time wherever texts differ.
#ifndef TOLVANE_PLUGIN_CRYPTO_H
#define TOLVANE_PLUGIN_CRYPTO_H

#include <string>

namespace tolvane::plugin::crypto {

// `count` bytes from OpenSSL's generator; throws std::runtime_error when it
// cannot give them.
std::string randomBytes(size_t count);
std::string toHex(const std::string& bytes);
// Hex text of `count` random bytes.
std::string randomHex(size_t count);
// A random (version 4) UUID in its usual text form.
std::string newUuid();
// A password of `length` characters from letters and digits.
std::string randomPassword(size_t length);

std::string sha256Hex(const std::string& data);

// PBKDF2 with HMAC-SHA-256; the 32-byte key as hex.
std::string pbkdf2Sha256Hex(const std::string& password, const std::string& salt, int iterations);

bool constantTimeEquals(const std::string& a, const std::string& b);

} // namespace tolvane::plugin::crypto

#endif
