// animation/hold.h - shared ownership of a loaded model or animation between its resource record
// and the poses that use it. The record's load is the first holder (holders starts at 1); each
// pose that keeps a pointer adds one; the unload lets go of the record's. Whoever lets go last
// frees the object, on whichever thread that is.
// Threads: any. holdShared needs the object alive during the call (its record locked, or a hold
// of the caller's own).
#pragma once

#include <atomic>

template <typename T>
T *holdShared(T *object)
{
    if (object != nullptr) object->holders.fetch_add(1, std::memory_order_relaxed);
    return object;
}

// True when this was the last holder: the caller frees the object.
template <typename T>
bool letGoShared(T *object)
{
    return object != nullptr && object->holders.fetch_sub(1, std::memory_order_acq_rel) == 1;
}
