#pragma once
// Record ids of records that came without one.
#include <string>

// A name-based UUID made from the SHA-256 of text: the same text, the same id.
std::string RecordIdOf(const std::string& text);
