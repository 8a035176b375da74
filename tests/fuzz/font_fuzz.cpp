// font_fuzz - libFuzzer target: see fuzz::fontDescriptor in fuzz_targets.h.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::fontDescriptor(data, size);
    return 0;
}
