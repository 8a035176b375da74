// audio/music.cpp - Ogg Vorbis music and the music slots that stream it.
//
// How it works: a music slot holds one source slot, reserved for the slot's whole life (taken with
// priority 0, so it may stop a sound to get it), and two OpenAL buffers. Play decodes the first
// two buffers' worth from the playlist's current track and queues both; from then on every audio
// tick takes back the buffers OpenAL has finished, decodes the next stretch into each and queues it
// again, and restarts a source that ran dry. A buffer holds about 0.37 s of 44.1 kHz stereo at
// pitch 1 (65536 bytes) and grows or shrinks with the source's pitch, so the queue holds about the
// same playing time at any pitch. When a track ends inside a fill, the loop mode picks the next:
// LOOP_ALL walks the playlist round and round; LOOP_FINAL and NO_LOOP drop each track as it ends,
// LOOP_FINAL then repeats the last one, NO_LOOP stops after it (at the first finished buffer after
// its last data was decoded).
//
// Threads: the script thread (slot operations), the audio thread (updateMusicSlots) and the loader
// thread (openMusic, freeMusic, which take only the Music's own lock). Every slot operation and
// update holds musicLock throughout; under it, source slot locks and Music locks are taken one at a
// time. OpenAL calls on a music slot's source and buffers are made under musicLock.
#include "audio/music.h"

#include <atomic>
#include <new>
#include <vector>

#include "audio/audio.h"
#include "core/log.h"
#include "resources/registry.h"

static const int MIN_BUFFER_BYTES = 4096, MAX_BUFFER_BYTES = 524288;

struct MusicSlot
{
    int sourceIndex = -1;          // the reserved source slot, -1 when none could be had
    int32_t sourceId = -1;         // what getMusicSource returns
    ALuint source = 0;             // that slot's source, 0 for none
    ALuint buffers[2] = {0, 0};    // A and B, made with the slot
    bool queued[2] = {false, false};  // the buffer is on the source's queue
    double startTime = 0;          // seconds into the first track where play starts
    std::vector<Music *> playlist; // each entry holds one of the Music's use counts; may be null
    uint32_t current = 0;          // the track being decoded
    bool playing = false;
    bool paused = false;
    int32_t loopMode = NO_LOOP;
    bool finished = false;         // the last track was decoded to its end and nothing follows
};

struct MusicSystem
{
    std::atomic<bool> running{false};  // written on the main thread while no audio thread runs
    std::mutex lock;                   // musicLock: guards everything below
    std::vector<MusicSlot> slots;      // index = the slot number scripts use
    std::vector<char> decodeArea;      // one fill's decoded bytes (at most MAX_BUFFER_BYTES)
};
static MusicSystem &music = *new MusicSystem;  // never destroyed: the audio thread may outlive exit handlers
static std::atomic<int32_t> liveMusic{0};

int32_t openMusicCount() { return liveMusic; }

// --- vorbisfile reads the Music's DataFile through these

static size_t readCallback(void *destination, size_t size, size_t count, void *source)
{
    Music &m = *(Music *)source;
    int64_t want = (int64_t)(size * count);
    const int64_t at = m.file.tell();
    if (at + want > m.fileSize) want = m.fileSize - at;
    if (want <= 0) return 0;
    return m.file.readBytes(destination, (size_t)want) ? (size_t)want : 0;
}

static int seekCallback(void *source, ogg_int64_t offset, int whence)
{
    Music &m = *(Music *)source;
    switch (whence) {
    case SEEK_SET: return m.file.seek(offset) ? 0 : -1;
    case SEEK_CUR: m.file.skip((int16_t)offset); return 0;  // the file's skip moves by a 16-bit count
    case SEEK_END: m.file.seek(m.fileSize); return 0;       // the offset is not added
    default: return -1;
    }
}

static int closeCallback(void *) { return 0; }  // freeMusic closes the file
static long tellCallback(void *source) { return (long)((Music *)source)->file.tell(); }

Music *openMusic(const std::string &path)
{
    Music *m = new (std::nothrow) Music;
    if (m == nullptr) return nullptr;
    if (!m->file.openForRead(path)) {
        delete m;
        return nullptr;
    }
    m->name = path;
    m->fileSize = m->file.size();
    const ov_callbacks callbacks = {readCallback, seekCallback, closeCallback, tellCallback};
    if (ov_open_callbacks(m, &m->decoder, nullptr, 0, callbacks) != 0) {
        m->file.close();
        delete m;
        return nullptr;
    }
    m->info = ov_info(&m->decoder, -1);
    if (m->info == nullptr) {
        ov_clear(&m->decoder);
        m->file.close();
        delete m;
        return nullptr;
    }
    m->format = m->info->channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16;  // more than two: undefined
    liveMusic++;
    return m;
}

bool freeMusic(Music *m)
{
    if (m == nullptr) return true;
    {
        std::lock_guard<std::mutex> guard(m->lock);
        if (m->useCount > 0) {
            m->pendingDelete = true;
            return true;
        }
    }
    ov_clear(&m->decoder);
    m->file.close();
    delete m;
    liveMusic--;
    return true;
}

// Lets go of one playlist entry's hold on `m`; frees it when it was waiting for that.
static void dropUse(Music *m)
{
    if (m == nullptr) return;
    bool free;
    {
        std::lock_guard<std::mutex> guard(m->lock);
        m->useCount--;
        free = m->pendingDelete && m->useCount < 1;
    }
    if (free) freeMusic(m);
}

static void addUse(Music *m)
{
    std::lock_guard<std::mutex> guard(m->lock);
    m->useCount++;
}

static void *loadMusicResource(const ResourceKey &key) { return openMusic(key.directory + key.name); }
static int unloadMusicResource(void **object)
{
    Music *m = (Music *)*object;
    *object = nullptr;
    freeMusic(m);
    return 0;
}

bool registerMusicResource()
{
    return registerResourceType(RESOURCE_MUSIC, {loadMusicResource, unloadMusicResource, nullptr});
}

// --- music slots; every function below runs with musicLock held

static MusicSlot *slotLocked(int32_t slot)
{
    return music.running && slot >= 0 && slot < (int32_t)music.slots.size() ? &music.slots[slot] : nullptr;
}

static Music *currentTrack(const MusicSlot &s) { return s.current < s.playlist.size() ? s.playlist[s.current] : nullptr; }

// The current entry becomes a private copy of its Music, opened from the same file and freed when
// the playlist lets go of it. The entry is null when the copy cannot be opened.
static void cloneMusic(MusicSlot &s)
{
    Music *original = s.playlist[s.current];
    const std::string name = original->name;
    dropUse(original);  // it stays alive for the playlist of the slot streaming it
    Music *copy = openMusic(name);
    s.playlist[s.current] = copy;
    if (copy == nullptr) return;
    std::lock_guard<std::mutex> guard(copy->lock);
    copy->pendingDelete = true;
    copy->useCount = 1;
}

// Marks the current track as streamed by this slot, first replacing it with a private copy when
// another slot streams it. The track, or null when there is none.
static Music *takeCurrentTrack(MusicSlot &s)
{
    Music *m = currentTrack(s);
    if (m == nullptr) return nullptr;
    {
        std::lock_guard<std::mutex> guard(m->lock);
        if (!m->inUse) {
            m->inUse = true;
            return m;
        }
    }
    cloneMusic(s);
    m = s.playlist[s.current];
    if (m == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(m->lock);
    m->inUse = true;
    return m;
}

// Stops the stream, takes every buffer off the source and starts over at the first track. Only
// while playing or paused. The decoders are not rewound.
static void stopSlotLocked(MusicSlot &s)
{
    if (!s.playing && !s.paused) return;
    alSourceStop(s.source);
    ALint queued = 0;
    alGetSourcei(s.source, AL_BUFFERS_QUEUED, &queued);
    for (ALint i = 0; i < queued; i++) {
        ALuint buffer = 0;
        alSourceUnqueueBuffers(s.source, 1, &buffer);
        alGetError();
    }
    s.queued[0] = s.queued[1] = false;
    if (Music *m = currentTrack(s)) {
        std::lock_guard<std::mutex> guard(m->lock);
        m->inUse = false;
    }
    s.current = 0;
    s.playing = s.finished = s.paused = false;
}

// The current track has been decoded to its end: rewinds it and moves on as the loop mode says.
// False when decoding ends here (the playlist is done, or no copy of the next track could be had).
static bool advanceTrack(MusicSlot &s)
{
    Music *ended = currentTrack(s);
    if (ended != nullptr) {
        std::lock_guard<std::mutex> guard(ended->lock);
        ov_pcm_seek(&ended->decoder, 0);
        if (s.playing || s.paused) ended->inUse = false;
    }
    const bool last = s.current + 1 >= s.playlist.size();
    if (s.loopMode == LOOP_ALL) {
        s.current = last ? 0 : s.current + 1;
    } else if (!last) {
        s.playlist.erase(s.playlist.begin() + s.current);  // current now names the next track
        dropUse(ended);
    } else if (s.loopMode != LOOP_FINAL) {
        s.finished = true;
        return false;
    }
    if (takeCurrentTrack(s) != nullptr) return true;
    stopSlotLocked(s);
    return false;
}

// Decodes the next stretch of the playlist into `buffer`: 65536 bytes at pitch 1, in proportion
// to the source's pitch, from 4096 to 524288. A track that ends on the way is followed by the
// next, so one buffer may hold the end of one track and the start of another; it then takes the
// format and rate of the second. False when nothing was decoded (the buffer is left as it was).
static bool fillBuffer(MusicSlot &s, ALuint buffer)
{
    if (s.finished) return false;
    float pitch = 1;
    if (SourceSlot *slot = sourceSlot(s.sourceIndex)) {
        std::lock_guard<std::mutex> guard(slot->lock);
        pitch = slot->pitch;
    }
    const double wanted = (double)pitch * 65536;  // a NaN pitch gives the smallest size
    const int size = wanted >= MAX_BUFFER_BYTES ? MAX_BUFFER_BYTES : wanted >= MIN_BUFFER_BYTES ? (int)wanted : MIN_BUFFER_BYTES;
    if (music.decodeArea.size() < (size_t)size) music.decodeArea.resize(size);
    char *area = music.decodeArea.data();
    int filled = 0;
    size_t emptyTracks = 0;  // tracks in a row that ended with nothing decoded: a playlist of empty
                             // streams must not go round forever
    Music *source = nullptr;
    while (filled < size) {
        Music *m = currentTrack(s);
        if (m == nullptr || size - filled < 2 * m->info->channels) break;  // no room for one more frame
        long n;
        {
            std::lock_guard<std::mutex> guard(m->lock);
            int section = 0;
            n = ov_read(&m->decoder, area + filled, size - filled, 0, 2, 1, &section);
        }
        if (n > 0) {
            filled += (int)n;
            source = m;
            emptyTracks = 0;
        } else if (n < 0 || ++emptyTracks > s.playlist.size() || !advanceTrack(s)) {
            break;  // a decode error ends the fill early
        }
    }
    Music *now = currentTrack(s);
    if (now == nullptr) now = source;  // the next track could not be had: the data is the last one's
    if (now != nullptr) filled -= filled % (now->format == AL_FORMAT_MONO16 ? 2 : 4);  // whole frames
    if (filled <= 0) return false;
    {
        std::lock_guard<std::mutex> guard(now->lock);
        alBufferData(buffer, now->format, area, filled, (ALsizei)now->info->rate);
    }
    alGetError();
    return true;
}

// Fills each buffer that is not on the queue and queues it. A buffer that got nothing stays off
// the queue (OpenAL would play its old contents again) and is tried again next time.
static void refillLocked(MusicSlot &s)
{
    for (int b = 0; b < 2 && s.playing; b++) {
        if (s.queued[b] || !fillBuffer(s, s.buffers[b])) continue;
        if (!s.playing) break;  // the fill stopped the slot: the next track could not be had
        alGetError();
        alSourceQueueBuffers(s.source, 1, &s.buffers[b]);
        if (alGetError() != AL_NO_ERROR) break;
        s.queued[b] = true;
    }
}

static void updateMusicSlot(MusicSlot &s)
{
    if (!s.playing) return;
    ALint state = AL_STOPPED, count = 0;
    alGetSourcei(s.source, AL_SOURCE_STATE, &state);
    const bool restart = state != AL_PLAYING && state != AL_PAUSED;  // it ran dry
    alGetSourcei(s.source, restart ? AL_BUFFERS_QUEUED : AL_BUFFERS_PROCESSED, &count);
    if (!restart && count < 1) return;
    if (s.finished) {
        stopSlotLocked(s);
        return;
    }
    for (ALint i = 0; i < count; i++) {
        ALuint buffer = 0;
        alGetError();
        alSourceUnqueueBuffers(s.source, 1, &buffer);
        if (alGetError() != AL_NO_ERROR) break;
        for (int b = 0; b < 2; b++)
            if (s.buffers[b] == buffer) s.queued[b] = false;
    }
    refillLocked(s);
    if (!s.playing) return;  // stopped on the way: the next track could not be had
    if (!s.queued[0] && !s.queued[1]) {
        stopSlotLocked(s);  // the stream gives nothing any more
        return;
    }
    if (restart) alSourcePlay(s.source);
}

// Lets go of every playlist entry; what plays is not touched.
static void clearPlaylistLocked(MusicSlot &s)
{
    for (Music *m : s.playlist) dropUse(m);
    s.playlist.clear();
}

// --- the operations

bool initMusicSystem()
{
    music.running = true;
    if (setMusicSlotCount(2)) return true;
    logReport(stdout, LOG_ERROR, {"Music system did not initialize.", "Game will have no music."});
    music.running = false;
    return false;
}

void shutdownMusicSystem()
{
    if (!music.running) return;
    setMusicSlotCount(0);
    music.running = false;
    std::vector<char>().swap(music.decodeArea);
}

void updateMusicSlots()
{
    if (!music.running) return;
    std::lock_guard<std::mutex> guard(music.lock);
    for (MusicSlot &s : music.slots) updateMusicSlot(s);
}

bool setMusicSlotCount(int32_t count)
{
    if (!music.running || count < 0 || count > sourceSlotCount()) return false;
    std::lock_guard<std::mutex> guard(music.lock);
    const int32_t old = (int32_t)music.slots.size();
    for (int32_t i = count; i < old; i++) {
        MusicSlot &s = music.slots[i];
        if (SourceSlot *slot = sourceSlot(s.sourceIndex)) {
            std::lock_guard<std::mutex> slotGuard(slot->lock);
            releaseSlot(s.sourceIndex);  // also ends the reservation
        }
        stopSlotLocked(s);
        clearPlaylistLocked(s);
        alDeleteBuffers(2, s.buffers);
    }
    music.slots.resize(count < old ? count : old);
    for (int32_t i = old; i < count; i++) {
        MusicSlot s;
        alGenBuffers(2, s.buffers);
        alGetError();
        s.sourceId = reserveSourceSlot();
        s.sourceIndex = findSlot(s.sourceId);
        if (SourceSlot *slot = sourceSlot(s.sourceIndex)) s.source = slot->source;  // fixed for the run
        music.slots.push_back(std::move(s));
    }
    return true;
}

bool assignMusic(int32_t slot, Music *m)
{
    std::lock_guard<std::mutex> guard(music.lock);
    MusicSlot *s = slotLocked(slot);
    if (s == nullptr || m == nullptr) return false;
    // A playing slot goes on with `m` from its decoder's present position at its next fill.
    clearPlaylistLocked(*s);
    s->playlist.push_back(m);
    s->current = 0;
    addUse(m);
    return true;
}

bool appendMusic(int32_t slot, Music *m)
{
    std::lock_guard<std::mutex> guard(music.lock);
    MusicSlot *s = slotLocked(slot);
    if (s == nullptr || m == nullptr) return false;
    s->playlist.push_back(m);
    addUse(m);
    return true;
}

void playMusicSlot(int32_t slot, float startSeconds, int32_t loopMode)
{
    std::lock_guard<std::mutex> guard(music.lock);
    MusicSlot *s = slotLocked(slot);
    if (s == nullptr || s->playing) return;
    s->startTime = startSeconds;
    s->loopMode = loopMode;
    if (s->playlist.empty() || s->sourceIndex < 0) return;  // a slot without a source never plays
    if (s->paused) {  // resumes where it paused; the start time is not applied
        alSourcePlay(s->source);
        s->paused = false;
        s->playing = true;
        return;
    }
    if (Music *m = takeCurrentTrack(*s)) {
        std::lock_guard<std::mutex> trackGuard(m->lock);
        ov_pcm_seek(&m->decoder, (ogg_int64_t)((double)m->info->rate * s->startTime));
    }
    s->playing = true;  // for the fills; cleared again below when nothing could be queued
    refillLocked(*s);
    if (s->playing && (s->queued[0] || s->queued[1])) {
        alSourcePlay(s->source);
        return;
    }
    s->playing = true;
    stopSlotLocked(*s);  // nothing to play: lets go of the track's in-use mark, back to the start
}

void pauseMusicSlot(int32_t slot)
{
    std::lock_guard<std::mutex> guard(music.lock);
    MusicSlot *s = slotLocked(slot);
    if (s == nullptr || !s->playing) return;
    s->paused = true;
    alSourcePause(s->source);
    s->playing = false;
}

void stopMusicSlot(int32_t slot)
{
    std::lock_guard<std::mutex> guard(music.lock);
    if (MusicSlot *s = slotLocked(slot)) stopSlotLocked(*s);
}

void stopAllMusicSlots()
{
    std::lock_guard<std::mutex> guard(music.lock);
    if (!music.running) return;
    for (MusicSlot &s : music.slots) stopSlotLocked(s);
}

bool isMusicSlotPlaying(int32_t slot)
{
    std::lock_guard<std::mutex> guard(music.lock);
    const MusicSlot *s = slotLocked(slot);
    return s != nullptr && s->playing;
}

int32_t musicSlotSource(int32_t slot)
{
    std::lock_guard<std::mutex> guard(music.lock);
    const MusicSlot *s = slotLocked(slot);
    return s != nullptr ? s->sourceId : emptySourceId();
}
