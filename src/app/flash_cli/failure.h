#pragma once
// The lines a person reads before a failure's error line.
#include <exception>
#include <string>
#include <vector>

// The failure's own details, or why the port failed (ExplainFailure); empty when nothing helps.
std::vector<std::string> FailureLines(const std::exception& failure, const std::string& port);
