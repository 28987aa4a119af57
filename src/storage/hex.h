#pragma once
#include <string>

// 0..15 for 0-9, A-F, a-f; EConvertError "Can't convert non-hex character: %s" otherwise.
int HexDigitValue(char ch);
// Value of the first two hex digits of s; EConvertError "String too short to convert" below two.
int HexPairValue(const std::string& s);
