// A stand-in for the programmer in job-builder tests: it carries the stored data block and
// checks its own copy at run time, as the programmer does at start-up.
#include <cstdio>
#include <exception>

#include "storage/storeexe.h"

int main()
{
    try {
        CheckStoredData(StoredDataBlock);
        std::puts("valid");
        return 0;
    } catch (const std::exception& e) {
        std::puts(e.what());
        return 1;
    }
}
