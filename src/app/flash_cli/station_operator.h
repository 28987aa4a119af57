#pragma once
// The operator between a station's rounds: Enter programs every fixture again, r retries
// the failed and cancelled ones, fixture names program only those, q or end of input quits.
#include <optional>
#include <string>
#include <vector>

// The fixtures' names one after the other: "A1 A2 A3".
std::string Listed(const std::vector<std::string>& names, const char* separator = " ");

// One line from standard input without its end; nothing at end of input or on an interrupt.
std::optional<std::string> ReadOperatorLine();

enum class TOperatorAnswer { Go, Quit, AskAgain };

// What line asks for. names: each fixture's name, or its port when it has none; retry: the
// fixtures that failed or were cancelled last. Fills chosen (one flag a fixture) for Go,
// problem for AskAgain.
TOperatorAnswer ParseOperatorLine(const std::string& line, const std::vector<std::string>& names,
                                  const std::vector<bool>& retry, std::vector<bool>& chosen, std::string& problem);
