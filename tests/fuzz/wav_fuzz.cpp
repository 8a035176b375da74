// wav_fuzz - libFuzzer target: see fuzz::wavFile in fuzz_targets.h.
#include "fuzz_targets.h"

QF_FUZZ_TARGET(wavFile)
