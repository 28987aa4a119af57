#include "storage/stored_file.h"

#include <vector>

#include "framework/file_input.h"
#include "storage/storeexe.h"

std::string ReadStoredBlock(const std::string& path, size_t limit, const std::string& what)
{
    TInputFile file(path, what);
    const auto tooLarge = [&](unsigned long long size) {
        file.Refuse((size ? std::to_string(size) + " bytes, more" : std::string("more")) + " than the " +
                    std::to_string(limit) + "-byte limit");
    };
    if (file.Size() > limit)
        tooLarge(file.Size());
    const std::string marker = StoredDataMarker();
    // window holds the bytes not yet searched, with the last marker.size() - 1 bytes of the
    // piece before, so a marker split between two pieces is found.
    std::string window, block;
    unsigned long long windowStart = 0, blockAt = 0, total = 0;
    size_t found = 0;
    std::vector<char> piece(size_t(1) << 20);
    for (size_t n; (n = file.Read(piece.data(), piece.size())) > 0;) {
        total += n;
        if (total > limit)
            tooLarge(0);
        window.append(piece.data(), n);
        for (size_t at = window.find(marker); at != std::string::npos; at = window.find(marker, at + 1))
            if (found++ == 0)
                blockAt = windowStart + at;
        const unsigned long long next = blockAt + block.size(), windowEnd = windowStart + window.size();
        if (found > 0 && block.size() < size_t(layout::BlockSize) && next < windowEnd)
            block.append(window, size_t(next - windowStart),
                         std::min<size_t>(size_t(layout::BlockSize) - block.size(), size_t(windowEnd - next)));
        const size_t keep = std::min(window.size(), marker.size() - 1);
        windowStart = windowEnd - keep;
        window.erase(0, window.size() - keep);
    }
    CheckStoredBlockCount(found, block.size() < size_t(layout::BlockSize), path);
    return block;
}
