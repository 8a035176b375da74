// animation_source_fuzz - libFuzzer target: see fuzz::animationSource in animation_fuzz_targets.h.
#include "animation_fuzz_targets.h"

QF_FUZZ_TARGET(animationSource)
