// project_file_fuzz - libFuzzer target: see fuzz::projectFile in fuzz_targets.h.
#include "fuzz_targets.h"

QF_FUZZ_TARGET(projectFile)
