#include "session/basicauth.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cctype>
#include <vector>

#include "civetweb_ext.h"

namespace {
// Bounds the memory an attacker can make the cache hold.
constexpr size_t kMaxVerdicts = 1024;

bool hasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return true;
    return false;
}
} // namespace

std::optional<BasicCredentials> basicCredentials(const char* authorization) {
    if (!authorization)
        return std::nullopt;
    std::string value = authorization;
    if (value.size() < 6)
        return std::nullopt;
    for (size_t i = 0; i < 5; ++i)
        if (std::tolower(static_cast<unsigned char>(value[i])) != "basic"[i])
            return std::nullopt;
    if (value[5] != ' ')
        return std::nullopt;
    size_t start = value.find_first_not_of(' ', 5);
    if (start == std::string::npos)
        return std::nullopt;
    const std::string encoded = value.substr(start);
    std::vector<unsigned char> decoded(encoded.size() + 1);
    size_t length = decoded.size();
    if (mg_base64_decode(encoded.data(), encoded.size(), decoded.data(), &length) != -1 ||
        length == 0)
        return std::nullopt;
    const std::string text(reinterpret_cast<const char*>(decoded.data()), length - 1);
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    BasicCredentials credentials{text.substr(0, colon), text.substr(colon + 1)};
    if (hasControlCharacter(credentials.user) || hasControlCharacter(credentials.password))
        return std::nullopt;
    return credentials;
}

BasicVerdictCache::BasicVerdictCache() {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) == 1)
        salt_.assign(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string BasicVerdictCache::keyOf(const BasicCredentials& credentials) const {
    // The user and password are separated by a byte neither may hold.
    const std::string input =
        salt_ + credentials.user + std::string(1, '\0') + credentials.password;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(input.data(), input.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return "";
    return std::string(reinterpret_cast<const char*>(digest), size);
}

std::optional<SessionRecord> BasicVerdictCache::find(const BasicCredentials& credentials,
                                                     int64_t now) {
    if (salt_.empty())
        return std::nullopt;
    const std::string key = keyOf(credentials);
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end())
        return std::nullopt;
    if (found->second.expires <= now) {
        entries_.erase(found);
        return std::nullopt;
    }
    return found->second.record;
}

bool BasicVerdictCache::store(const BasicCredentials& credentials, const SessionRecord& record,
                              int64_t now, uint64_t generation) {
    // Revocation takes the session table's lock and then forgets verdicts:
    // under that lock the generation check and the store cannot be split.
    std::lock_guard<std::recursive_mutex> revocation(sessionTableMutex());
    if (accountGeneration(credentials.user) != generation)
        return false;
    if (salt_.empty())
        return true; // without a secret salt a stored hash could be guessed
    const std::string key = keyOf(credentials);
    if (key.empty())
        return true;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();)
        it = it->second.expires <= now ? entries_.erase(it) : std::next(it);
    if (entries_.size() >= kMaxVerdicts)
        return true;
    entries_[key] = Entry{record, now + kBasicVerdictSeconds};
    return true;
}

void BasicVerdictCache::forgetUser(const std::string& user) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();)
        it = sameAccountName(it->second.record.userName, user) ? entries_.erase(it) : std::next(it);
}

BasicVerdictCache& basicVerdictCache() {
    static BasicVerdictCache instance;
    return instance;
}
