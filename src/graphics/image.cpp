// graphics/image.cpp - the image loader and the image resource type.
#include "graphics/image.h"

#include <IL/il.h>

bool initImageLibrary()
{
    ilInit();
    return true;
}

// TODO: image loading arrives with the resource manager.
bool registerImageResource() { return true; }
