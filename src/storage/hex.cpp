#include "storage/hex.h"

#include "framework/exceptions.h"

int HexDigitValue(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    throw EConvertError(std::string("Can't convert non-hex character: ") + ch);
}

int HexPairValue(const std::string& s)
{
    if (s.size() < 2)
        throw EConvertError("String too short to convert");
    return 16 * HexDigitValue(s[0]) + HexDigitValue(s[1]);
}
