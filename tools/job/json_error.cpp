#include "job/json_error.h"

#include <cstdio>
#include <regex>

namespace job {
namespace {

unsigned char Byte(char c)
{
    return static_cast<unsigned char>(c);
}

// Bytes that run together into one bare word: a number, a literal or a mistyped one.
bool IsWordByte(char c)
{
    const unsigned char u = Byte(c);
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || c == '_' || c == '.' ||
        c == '+' || c == '-';
}

// A bare word JSON takes: a literal or a number.
bool IsJsonWord(const std::string& word)
{
    static const std::regex number(R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
    return word == "true" || word == "false" || word == "null" || std::regex_match(word, number);
}

std::string Hex(unsigned char u)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", u);
    return buf;
}

// A piece of the text for the message, cut on a character boundary when long.
std::string Quoted(std::string piece, char quote = '\'')
{
    constexpr size_t Longest = 30;
    if (piece.size() > Longest) {
        size_t cut = Longest;
        while (cut > 0 && (Byte(piece[cut]) & 0xC0) == 0x80)
            --cut;
        piece = piece.substr(0, cut) + "...";
    }
    return quote + piece + quote;
}

std::string Character(char c)
{
    if (Byte(c) < 0x20 || Byte(c) >= 0x7F)
        return "byte " + Hex(Byte(c));
    return Quoted(std::string(1, c), c == '\'' ? '"' : '\'');
}

// Line and column (in characters) of text[at]; a byte order mark takes no column.
JsonErrorPlace At(const std::string& text, size_t at, std::string what)
{
    JsonErrorPlace place{1, 1, std::move(what)};
    for (size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; i < at; ++i) {
        if (text[i] == '\n') {
            ++place.line;
            place.column = 1;
        } else if ((Byte(text[i]) & 0xC0) != 0x80) {
            ++place.column;
        }
    }
    return place;
}

// Whether text[at] lies inside a string, and where that string opens. The parser took
// everything before the error as valid JSON, so counting quotes is not misled there.
struct StringState {
    bool inside = false, escaped = false;
    int hexLeft = 0; // digits still to come in a \u escape
    size_t start = 0;
};

StringState StringAt(const std::string& text, size_t at)
{
    StringState s;
    for (size_t i = 0; i < at; ++i) {
        const char c = text[i];
        if (!s.inside) {
            if (c == '"')
                s = {true, false, 0, i};
        } else if (s.escaped) {
            s.escaped = false;
            s.hexLeft = c == 'u' ? 4 : 0;
        } else if (s.hexLeft > 0) {
            --s.hexLeft;
        } else if (c == '\\') {
            s.escaped = true;
        } else if (c == '"') {
            s.inside = false;
        }
    }
    return s;
}

JsonErrorPlace InString(const std::string& text, size_t at, const StringState& s)
{
    const unsigned char c = Byte(text[at]);
    if (s.escaped || s.hexLeft > 0)
        return At(text, at, "a bad escape in a string; a backslash is written \\\\");
    if (c == '"') // the whole string was read and came where none may stand
        return At(text, s.start, "unexpected string " + Quoted(text.substr(s.start + 1, at - s.start - 1), '"'));
    if (c == '\n' || c == '\r')
        return At(text, s.start, "a string not closed on its line");
    if (c < 0x20)
        return At(text, at, "control character " + Hex(c) + " in a string; write it escaped, as \\t for a tab");
    // What else stops a string: a byte that breaks a UTF-8 sequence, or half a surrogate pair.
    return At(text, at, "a string holds text that is not valid UTF-8");
}

JsonErrorPlace Outside(const std::string& text, size_t at)
{
    size_t start = at, end = at;
    while (start > 0 && IsWordByte(text[start - 1]))
        --start;
    // A word the error stands in, or a word that broke off at it ("tru}").
    if (IsWordByte(text[at])) {
        while (end < text.size() && IsWordByte(text[end]))
            ++end;
        return At(text, start, "unexpected " + Quoted(text.substr(start, end - start)));
    }
    if (start < at && !IsJsonWord(text.substr(start, at - start)))
        return At(text, start, "unexpected " + Quoted(text.substr(start, at - start)));
    const size_t before = at ? text.find_last_not_of(" \t\r\n", at - 1) : std::string::npos;
    if ((text[at] == '}' || text[at] == ']') && before != std::string::npos && text[before] == ',')
        return At(text, at, "unexpected " + Character(text[at]) + " after a comma");
    return At(text, at, "unexpected " + Character(text[at]));
}

} // namespace

JsonErrorPlace PlaceJsonError(const std::string& text, size_t byte)
{
    const size_t at = byte ? byte - 1 : 0;
    if (at >= text.size()) {
        const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos || text == "\xEF\xBB\xBF";
        return {0, 0, blank ? "the file is empty" : "the text ends early"};
    }
    const StringState s = StringAt(text, at);
    return s.inside ? InString(text, at, s) : Outside(text, at);
}

} // namespace job
