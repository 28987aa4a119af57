#pragma once
// A list of strings that takes a whole text apart at its line ends.
#include <initializer_list>
#include <string>
#include <vector>

class TStringList {
public:
    TStringList() = default;
    TStringList(std::initializer_list<std::string> strings) : FStrings(strings) { }

    // Replaces the entries with text split at CR LF, CR or LF; a final line break adds no
    // empty entry.
    void SetText(const std::string& text);

    void Add(std::string s) { FStrings.push_back(std::move(s)); }
    void Clear() { FStrings.clear(); }
    int Count() const { return static_cast<int>(FStrings.size()); }
    bool Empty() const { return FStrings.empty(); }
    const std::string& operator[](int index) const { return FStrings.at(static_cast<size_t>(index)); }
    const std::vector<std::string>& Strings() const { return FStrings; }
    auto begin() const { return FStrings.begin(); }
    auto end() const { return FStrings.end(); }
    bool operator==(const TStringList&) const = default;

private:
    std::vector<std::string> FStrings;
};
