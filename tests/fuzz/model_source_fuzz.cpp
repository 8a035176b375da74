// model_source_fuzz - libFuzzer target: see fuzz::modelSource in animation_fuzz_targets.h.
#include "animation_fuzz_targets.h"

QF_FUZZ_TARGET(modelSource)
