// font_fuzz - libFuzzer target: see fuzz::fontDescriptor in fuzz_targets.h.
#include "fuzz_targets.h"

QF_FUZZ_TARGET(fontDescriptor)
