#include "Sha256.h"

#include <openssl/evp.h>

#include "Platform/Error.h"

namespace corvane::server {

struct Sha256::Context {
    struct Deleter {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Deleter> handle{EVP_MD_CTX_new()};
};

Sha256::Sha256() : m_context(std::make_unique<Context>())
{
    if (!m_context->handle ||
        EVP_DigestInit_ex(m_context->handle.get(), EVP_sha256(), nullptr) != 1) {
        throw Error("SHA-256 init failed");
    }
}

Sha256::~Sha256() = default;

void Sha256::update(const char* data, std::size_t size)
{
    if (size > 0 && EVP_DigestUpdate(m_context->handle.get(), data, size) != 1) {
        throw Error("SHA-256 update failed");
    }
}

std::string Sha256::finishHex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context->handle.get(), digest, &length) != 1) {
        throw Error("SHA-256 final failed");
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0f];
    }
    return text;
}

}  // namespace corvane::server
