// core/room_module.h - the frame module that runs the current room's scripts.
// Each step first carries out a pending room switch, then calls the global _STEP; each drawn
// frame calls _RENDER. Both run protected: an error is reported and the frame goes on.
// Threads: main thread only.
#pragma once

#include "core/frame_loop.h"

class QFRoomModule : public QFFrameModule
{
public:
    void init() override;      // defines _STEP/_RENDER and keeps registry references to them
    void step() override;
    void render() override;
    void shutDown() override;  // drops both references
    int stepRef = -1;          // registry reference to _STEP
    int renderRef = -1;        // registry reference to _RENDER
};
