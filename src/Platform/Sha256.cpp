#include "Platform/Sha256.h"

#include <openssl/evp.h>

#include "Platform/Error.h"

namespace corvane {
namespace {

// Fetched once: handing EVP_sha256() to every new hash makes OpenSSL look the implementation up
// in its providers, under a lock, each time, which costs more than hashing a small file. Kept
// for the life of the process (never freed): background work may still hash while it exits.
const EVP_MD* sha256Digest()
{
    static const EVP_MD* const digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return digest;
}

}  // namespace

struct Sha256::Context {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> handle{EVP_MD_CTX_new(),
                                                                   &EVP_MD_CTX_free};
};

Sha256::Sha256() : m_context(std::make_unique<Context>())
{
    const EVP_MD* digest = sha256Digest();
    if (!m_context->handle || !digest ||
        EVP_DigestInit_ex(m_context->handle.get(), digest, nullptr) != 1) {
        throw Error("SHA-256 is not available");
    }
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(std::string_view bytes)
{
    // A hash that silently missed bytes would name content it does not describe.
    if (EVP_DigestUpdate(m_context->handle.get(), bytes.data(), bytes.size()) != 1) {
        throw Error("SHA-256 failed");
    }
}

std::string Sha256::finish()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context->handle.get(), digest, &length) != 1) {
        throw Error("SHA-256 failed");
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 0x0F]);
    }
    return text;
}

std::string Sha256::of(std::string_view bytes)
{
    Sha256 hash;
    hash.update(bytes);
    return hash.finish();
}

}  // namespace corvane
