// config_fuzz - libFuzzer target: see fuzz::configText in fuzz_targets.h.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::configText(data, size);
    return 0;
}
