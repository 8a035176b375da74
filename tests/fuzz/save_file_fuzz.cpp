// save_file_fuzz - libFuzzer target: see fuzz::saveFile in fuzz_targets.h.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::saveFile(data, size);
    return 0;
}
