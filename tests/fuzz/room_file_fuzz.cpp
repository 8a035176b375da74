// room_file_fuzz - libFuzzer target: see fuzz::roomFile in fuzz_targets.h.
#include "fuzz_targets.h"

QF_FUZZ_TARGET(roomFile)
