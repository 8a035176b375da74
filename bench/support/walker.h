// bench/support/walker.h - the walking character of the pose benchmarks (pose_bench, and
// draw_bench's posed models off-screen), written for the engine and for LÖVE.
//
// The character: a 20-bone figure (pelvis, spine, chest, neck, head, hat, two arms of shoulder,
// upper arm, forearm and hand, two legs of thigh, shin and foot), every bone a small rectangle of
// one 64 x 64 atlas. Its walk cycle (length 40) swings every bone with rotation curves (two
// cubic segments a turn, left and right opposed), fades the head's colour and flips the hat's
// picture through 4 frames of 5 (its frame clock). A second animation, "still", has no event.
#pragma once

#include <string>

static const int WALKER_BONES = 20, WALKER_CYCLE = 40;

// Writes `folder`/game: the engine's game "pose" (Images/atlas.png, Scraps/, Models/walker,
// Anims/walk and Anims/still), whose first room makes benchCount poses in Init, advances each by 1
// in Step (animatePose) and draws each in Render (pushMatrix, translateRender, renderPose,
// popMatrix) on a grid, moved right by benchOffsetX when that global is set; and `folder`/love:
// LÖVE's side (bench/love/pose with the same atlas and rig.lua). False when a write failed.
bool buildWalkerGames(const std::string &folder);
