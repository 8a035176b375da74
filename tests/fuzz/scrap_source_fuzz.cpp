// scrap_source_fuzz - libFuzzer target: see fuzz::scrapSource in animation_fuzz_targets.h.
#include "animation_fuzz_targets.h"

QF_FUZZ_TARGET(scrapSource)
