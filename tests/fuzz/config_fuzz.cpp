// config_fuzz - libFuzzer target: see fuzz::configText in fuzz_targets.h.
#include "fuzz_targets.h"

QF_FUZZ_TARGET(configText)
