#include "app/records/record_id.h"

#include <openssl/sha.h>

#include "app/records/uuid_text.h"

std::string RecordIdOf(const std::string& text)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    return UuidText(digest, 5);
}
