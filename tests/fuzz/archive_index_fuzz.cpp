// archive_index_fuzz - libFuzzer target: see fuzz::archiveIndex in fuzz_targets.h.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::archiveIndex(data, size);
    return 0;
}
