// music_fuzz - libFuzzer target: see fuzz::musicEntry in fuzz_targets.h.
#include "fuzz_targets.h"

QF_FUZZ_TARGET(musicEntry)
