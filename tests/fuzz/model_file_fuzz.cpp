// model_file_fuzz - libFuzzer target: see fuzz::modelFile in animation_fuzz_targets.h.
#include "animation_fuzz_targets.h"

QF_FUZZ_TARGET(modelFile)
