// Checks the stored data block of its own executable and prints the image title, or the
// check's error: shows that a block stamped into the file is what the program reads.
#include <cstdio>

#include "framework/exceptions.h"
#include "storage/dev_params.h"
#include "storage/storeexe.h"

int main()
{
    try {
        const TExeProgrammingInfo info(CheckStoredData(StoredDataBlock));
        std::printf("title:%s\n", info.GetImageTitle().c_str());
        return 0;
    } catch (const Exception& e) {
        std::printf("error:%s\n", e.what());
        return 1;
    }
}
