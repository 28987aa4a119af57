#include "app/flash_cli/station_operator.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "framework/cmdline.h"

namespace {

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::string Listed(const std::vector<std::string>& names, const char* separator)
{
    std::string text;
    for (const std::string& n : names)
        text += (text.empty() ? "" : separator) + n;
    return text;
}

std::optional<std::string> ReadOperatorLine()
{
    std::string line;
    for (char c = 0;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR && StopSignalsReceived() == 0)
            continue;
        if (n <= 0)
            return std::nullopt;
        if (c == '\n')
            return line;
        if (c != '\r')
            line += c;
    }
}

TOperatorAnswer ParseOperatorLine(const std::string& line, const std::vector<std::string>& names,
                                  const std::vector<bool>& retry, std::vector<bool>& chosen, std::string& problem)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        words.push_back(w);
    chosen.assign(names.size(), words.empty());
    if (words.empty())
        return TOperatorAnswer::Go;
    if (words.size() == 1 && SameName(words[0], "q"))
        return TOperatorAnswer::Quit;
    if (words.size() == 1 && SameName(words[0], "r")) {
        chosen = retry;
        if (std::find(chosen.begin(), chosen.end(), true) != chosen.end())
            return TOperatorAnswer::Go;
        problem = "No fixture failed or was cancelled: nothing to retry.";
        return TOperatorAnswer::AskAgain;
    }
    for (const std::string& w : words) {
        const auto found = std::find_if(names.begin(), names.end(), [&](const std::string& n) { return SameName(n, w); });
        if (found == names.end()) {
            problem = "No fixture " + w + " (fixtures: " + Listed(names) + ").";
            return TOperatorAnswer::AskAgain;
        }
        chosen[size_t(found - names.begin())] = true;
    }
    return TOperatorAnswer::Go;
}
