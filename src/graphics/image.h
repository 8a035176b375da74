// graphics/image.h - image records and the image loader (DevIL decode, GL upload).
// Threads: images load on the resource-loading thread with its shared context current;
// records are drawn by the main thread under their resource lock.
#pragma once

#include <cstdint>

// What drawing needs to know of an uploaded picture.
struct Image
{
    uint32_t texture = 0;  // GL texture name; 0 for none
    float maxU = 0;        // texture coordinate of the picture's right edge
    float maxV = 0;        // ... and of its top edge
    uint32_t width = 0;    // picture size in pixels, before any enlargement
    uint32_t height = 0;
};

bool initImageLibrary();           // ilInit and the default load settings; main thread, at start-up
bool registerImageResource();      // resource type 0 (images)
