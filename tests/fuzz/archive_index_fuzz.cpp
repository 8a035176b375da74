// archive_index_fuzz - libFuzzer target: see fuzz::archiveIndex in fuzz_targets.h.
#include "fuzz_targets.h"

QF_FUZZ_TARGET(archiveIndex)
