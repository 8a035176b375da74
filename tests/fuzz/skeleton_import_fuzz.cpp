// skeleton_import_fuzz - libFuzzer target: see fuzz::skeletonImport in animation_fuzz_targets.h.
#include "animation_fuzz_targets.h"

QF_FUZZ_TARGET(skeletonImport)
