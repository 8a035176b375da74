// project_file_fuzz - libFuzzer target: see fuzz::projectFile in fuzz_targets.h.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::projectFile(data, size);
    return 0;
}
