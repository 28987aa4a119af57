#pragma once
// Where a JSON text stops parsing, and what stands there, in our own words (the parser's
// messages speak of its tokens and parse states).
#include <cstddef>
#include <string>

namespace job {

struct JsonErrorPlace {
    size_t line = 0, column = 0; // both 1-based; 0 when the text ends before the error
    std::string what;            // "unexpected '}'", "the text ends early", ...
};

// byte is the parse error's position: how many bytes the parser had read when it stopped.
JsonErrorPlace PlaceJsonError(const std::string& text, size_t byte);

} // namespace job
