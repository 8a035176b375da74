// animation/scrap.cpp - scrap files, the scrap resource type (4) and drawing one frame.
//
// A scrap loads in two steps: readScrapFile checks the whole file into plain data (names only),
// and only a file that passed is made into a Scrap, taking its image references. So a damaged
// file takes no reference and has nothing to give back.
//
// Threads: the resource operations run on the loader thread (unload also at shutdown);
// acquireDependency is shared with models and animations, which call it on the loader thread.
// Drawing and the frame clock run on the main thread under the scrap record's lock.
#include "animation/scrap.h"

#include <cmath>
#include <new>

#include "graphics/renderer.h"
#include "resources/data_file.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"

// Reads four bytes one at a time from the start; false at the first that differs.
static bool readMagic(DataFile &file, const char *magic)
{
    file.seek(0);
    for (int i = 0; i < 4; i++) {
        if (file.readByte() != (uint8_t)magic[i] || file.atEnd()) return false;
    }
    return true;
}

static void readRectangle(DataFile &file, ScrapFrameData &frame)
{
    frame.x1 = file.readInt16();
    frame.y1 = file.readInt16();
    frame.x2 = file.readInt16();
    frame.y2 = file.readInt16();
}

// One version 1 frame record; false for frame version 3 or above or data ending inside it.
static bool readFrameRecord(DataFile &file, ScrapFrameData &frame)
{
    frame = ScrapFrameData();
    frame.lead = file.readInt32();
    if (frame.lead >= 3) return false;
    frame.image = file.readString();
    readRectangle(file, frame);
    if (frame.lead > 1) {
        frame.offsetX = file.readInt16();
        frame.offsetY = file.readInt16();
    }
    frame.duration = file.readInt16();
    return !file.atEnd();
}

bool readScrapFile(DataFile &file, ScrapFileData &out)
{
    out = ScrapFileData();
    if (!readMagic(file, "QFPA")) return false;
    out.version = file.readInt32();
    if (out.version > 1 || out.version < 0) return false;
    const int32_t count = file.readInt32();
    if (count < 0 || count > MAX_SCRAP_FRAMES) return false;
    out.frames.resize(count);
    for (ScrapFrameData &frame : out.frames) {
        if (out.version == 1) {
            if (!readFrameRecord(file, frame)) return false;
            continue;
        }
        frame.lead = file.readInt32();  // version 0: not used, not tested for the end
        frame.image = file.readString();
        readRectangle(file, frame);
        frame.duration = file.readInt16();
    }
    return true;
}

bool readScrapFrameFile(DataFile &file, ScrapFrameData &out)
{
    return readMagic(file, "QFTB") && readFrameRecord(file, out);
}

static bool writeFrameRecord(DataFile &file, int32_t version, const ScrapFrameData &frame)
{
    bool ok = file.writeInt32(frame.lead) && file.writeString(frame.image) && file.writeInt16(frame.x1) &&
              file.writeInt16(frame.y1) && file.writeInt16(frame.x2) && file.writeInt16(frame.y2);
    if (version == 1 && frame.lead > 1) ok = ok && file.writeInt16(frame.offsetX) && file.writeInt16(frame.offsetY);
    return ok && file.writeInt16(frame.duration);
}

static bool writeMagic(DataFile &file, const char *magic)
{
    return file.writeBytes(magic, 4);
}

bool writeScrapFile(const std::string &path, const ScrapFileData &data)
{
    DataFile file;
    if (!file.openForWrite(path)) return false;
    bool ok = writeMagic(file, "QFPA") && file.writeInt32(data.version) && file.writeInt32((int32_t)data.frames.size());
    for (const ScrapFrameData &frame : data.frames) ok = ok && writeFrameRecord(file, data.version, frame);
    return file.close() && ok;
}

bool writeScrapFrameFile(const std::string &path, const ScrapFrameData &frame)
{
    DataFile file;
    if (!file.openForWrite(path)) return false;
    const bool ok = writeMagic(file, "QFTB") && writeFrameRecord(file, 1, frame);
    return file.close() && ok;
}

// ---------------------------------------------------------------- the loaded scrap

ResourceRecord *acquireDependency(int type, const std::string &name)
{
    ResourceRecord *record = findOrCreateResource({name, resourceDirectory(type), type});
    acquireResource(record, nextLoadPriority());
    return record;
}

Scrap *makeScrap(const ScrapFileData &data)
{
    Scrap *scrap = new (std::nothrow) Scrap();
    if (scrap == nullptr) return nullptr;
    scrap->frames.resize(data.frames.size());
    scrap->frameCount = (int32_t)data.frames.size();
    for (size_t i = 0; i < data.frames.size(); i++) {
        const ScrapFrameData &from = data.frames[i];
        ScrapFrame &frame = scrap->frames[i];
        frame.x1 = from.x1, frame.y1 = from.y1, frame.x2 = from.x2, frame.y2 = from.y2;
        frame.offsetX = from.offsetX, frame.offsetY = from.offsetY;
        frame.width = (int16_t)(from.x2 - from.x1);
        frame.height = (int16_t)(from.y2 - from.y1);
        frame.duration = (uint16_t)from.duration;
        scrap->totalDuration += frame.duration;
        if (!from.image.empty()) frame.image = acquireDependency(RESOURCE_IMAGE, from.image);
    }
    return scrap;
}

void freeScrap(Scrap *scrap)
{
    if (scrap == nullptr) return;
    for (ScrapFrame &frame : scrap->frames) {
        if (frame.image != nullptr) releaseResource(frame.image);
    }
    delete scrap;
}

static void *loadScrapResource(const ResourceKey &key)
{
    DataFile file;
    if (!file.openForRead(key.directory + key.name)) return nullptr;
    ScrapFileData data;
    const bool read = readScrapFile(file, data);
    file.close();
    return read ? makeScrap(data) : nullptr;
}

static int unloadScrapResource(void **object)
{
    freeScrap(static_cast<Scrap *>(*object));
    *object = nullptr;
    return 0;
}

bool registerScrapResource()
{
    return registerResourceType(RESOURCE_SCRAP, {loadScrapResource, unloadScrapResource, nullptr});
}

const ScrapFrame *frameAt(const Scrap *scrap, int32_t index)
{
    if (scrap == nullptr || scrap->frameCount <= 0) return nullptr;
    if (index < 0 || index >= scrap->frameCount) index = 0;
    return &scrap->frames[index];
}

void settleFrameClock(const Scrap *scrap, int32_t &index, float &clock)
{
    if (scrap == nullptr || scrap->frameCount <= 0 || scrap->totalDuration == 0) return;
    const int32_t n = scrap->frameCount;
    const float turn = (float)scrap->totalDuration;
    // From an index inside the scrap, one turn either way passes every frame once, so whole
    // turns change nothing but the clock (fmod is exact, as the subtractions are below 2^24).
    bool turned = false;
    auto takeTurns = [&] {
        if (turned || index < 0 || index >= n || std::fabs(clock) < turn) return false;
        clock = std::fmod(clock, turn);
        turned = true;
        return true;
    };
    while (clock >= (float)frameAt(scrap, index)->duration) {
        if (takeTurns()) continue;
        clock -= (float)frameAt(scrap, index)->duration;
        index = index + 1 >= n ? 0 : index + 1;
    }
    while (clock < 0) {
        if (takeTurns()) continue;
        clock += (float)frameAt(scrap, index)->duration;
        index = index - 1 < 0 ? n - 1 : index - 1;
    }
}

void drawScrapFrame(const ScrapFrame *frame, const QuadTransform *transform)
{
    if (frame == nullptr || frame->image == nullptr) return;
    const Image *image = static_cast<const Image *>(lockResource(frame->image));
    if (transform != nullptr) {
        renderImagePartTransformed(image, *transform, frame->offsetX, frame->offsetY, frame->x1, frame->y1, frame->x2,
                                   frame->y2);
    } else {
        renderImagePart(image, frame->offsetX, frame->offsetY, frame->x1, frame->y1, frame->x2, frame->y2);
    }
    unlockResource(frame->image);
}
