#include "framework/sha256.h"

#include <openssl/evp.h>

#include "framework/exceptions.h"

std::string Sha256Hex(std::span<const uint8_t> bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw Exception("Cannot compute the image's SHA-256");
    return LowerHex(digest, length);
}
