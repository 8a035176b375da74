// room_file_fuzz - libFuzzer target: see fuzz::roomFile in fuzz_targets.h.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::roomFile(data, size);
    return 0;
}
