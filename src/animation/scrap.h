// animation/scrap.h - scraps (resource type 4, files under "Scraps/"): the picture of a bone, a
// short flip-book of frames, each a rectangle of an image with an offset and a duration.
//
// A scrap file is read in two steps: readScrapFile checks the bytes and gives the file's contents
// with image names (no registry needed: the pack tool and the fuzz targets use it too), then the
// loader turns them into a Scrap whose frames hold one reference on their image each, taken with
// nextLoadPriority so the images load right after the scrap. writeScrapFile is the writer.
//
// Threads: reading and loading run on the loader thread (any thread for readScrapFile);
// drawScrapFrame, frameAt and settleFrameClock on the main thread, on a scrap held under its
// record's lock. A loaded Scrap is read-only.
// Failure: readers return false / nullptr and print nothing (scraps have no messages).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DataFile;
struct ResourceRecord;
struct QuadTransform;

static const int32_t MAX_SCRAP_FRAMES = 100;

// --- a scrap file's contents, as stored (names, not records)
struct ScrapFrameData
{
    int32_t lead = 2;          // version 1: the frame version (0..2; offsets only from 2); version 0: ignored
    std::string image;         // "" = no image
    int16_t x1 = 0, y1 = 0, x2 = 32, y2 = 32;  // rectangle in image pixels from the bottom-left
    int16_t offsetX = 0, offsetY = 0;          // stored only by frame version 2
    int16_t duration = 1;      // stored signed; the engine reads it as unsigned 16-bit
};

struct ScrapFileData
{
    int32_t version = 1;  // 0 or 1
    std::vector<ScrapFrameData> frames;
};

// "QFPA", version 0 or 1, 0..100 frames. A version 1 frame that cannot be read (frame version 3
// or above, or data ending inside it) fails the whole scrap; version 0 does not test the end.
bool readScrapFile(DataFile &file, ScrapFileData &out);
// The stand-alone frame: "QFTB" then one version 1 frame record (the end of the data is tested).
bool readScrapFrameFile(DataFile &file, ScrapFrameData &out);
// Writes `data` as readScrapFile reads it; false when a write failed.
bool writeScrapFile(const std::string &path, const ScrapFileData &data);
bool writeScrapFrameFile(const std::string &path, const ScrapFrameData &frame);

// --- the loaded scrap
struct ScrapFrame
{
    int16_t x1 = 0, y1 = 0, x2 = 32, y2 = 32;
    int16_t offsetX = 0, offsetY = 0;  // where the rectangle's corner lies from the bone's anchor
    int16_t width = 32, height = 32;   // x2 - x1 and y2 - y1 in 16-bit arithmetic
    uint16_t duration = 1;             // in units of the bone's frame clock; 0 is never shown
    ResourceRecord *image = nullptr;   // one reference held; nullptr for an empty image name
};

struct Scrap
{
    std::vector<ScrapFrame> frames;
    int32_t frameCount = 0;      // 0..100
    uint32_t totalDuration = 0;  // sum of the durations; 0 means the frame clock cannot move
};

// Takes the references of the frames' images (nextLoadPriority) and builds the scrap.
Scrap *makeScrap(const ScrapFileData &data);
void freeScrap(Scrap *scrap);  // releases every image reference; nullptr does nothing
bool registerScrapResource();  // type 4; main thread, start-up

// A dependency of a loading resource: the record of (type, name) in the type's directory, with
// one reference taken at nextLoadPriority so it loads with the work in hand. Loader thread.
ResourceRecord *acquireDependency(int type, const std::string &name);

// The frame at `index`; the first frame for an index outside the scrap; nullptr without frames.
const ScrapFrame *frameAt(const Scrap *scrap, int32_t index);

// Moves a frame clock on by whole frames: while the clock is not below the duration of the frame
// at `index`, subtract it and go to the next frame (0 after the last); while it is below 0, add
// the duration and go back (the last before 0). A scrap whose frames all last 0 leaves both
// as they are (the loops would never end), and full turns of the flip-book are taken at once.
void settleFrameClock(const Scrap *scrap, int32_t &index, float &clock);

// Main thread, window's context. Draws the frame's rectangle with its corner at the frame's
// offset, under the current model-view matrix (and `transform` first, when given), through the
// renderer's image batch; locks the image record while it reads it. Nothing when the image is
// not ready.
void drawScrapFrame(const ScrapFrame *frame, const QuadTransform *transform = nullptr);
