#include "framework/stringlist.h"

void TStringList::SetText(const std::string& text)
{
    FStrings.clear();
    size_t i = 0;
    while (i < text.size()) {
        const size_t start = i;
        while (i < text.size() && text[i] != '\r' && text[i] != '\n')
            ++i;
        FStrings.emplace_back(text, start, i - start);
        if (i < text.size() && text[i] == '\r')
            ++i;
        if (i < text.size() && text[i] == '\n')
            ++i;
    }
}
