// resources/data_file.cpp - the one file object: typed little-endian reads and writes over a
// stdio disk stream or over an archive entry copied into memory.
//
// How it works: every typed operation goes through four raw primitives (rawRead, rawWrite,
// rawSeek, rawTell) that pick the entry copy when there is one and the disk stream otherwise.
// Integers are assembled from bytes with shifts, so the file format is little-endian on any
// host without a byte-order test. Bits are packed least-significant first; while a read bit
// byte is unfinished the position stays on that byte, and finishing it steps past it, so
// tell() always names the byte being unpacked.
//
// Threads: a DataFile is used by one thread at a time; opening an entry takes the archive lock
// inside readEntry and nothing else is shared.
#include "resources/data_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "resources/archive.h"

static const int32_t MAX_STRING_LENGTH = 1024;  // longer texts are stored as their length alone
static const double FRACTION_SCALE = 1000000000.0;

static const size_t MAPPED_ENTRY_MINIMUM = 2u << 20;

void EntryBytesRelease::operator()(uint8_t *bytes) const
{
    if (mappedLength > 0) {
        munmap(bytes, mappedLength);
    } else {
        delete[] bytes;
    }
}

bool allocateEntryBytes(MemoryStream &stream, size_t length)
{
    stream.bytes.reset();
    stream.length = 0;
    stream.position = 0;
    if (length >= MAPPED_ENTRY_MINIMUM) {
        void *pages = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED) return false;
#ifdef MADV_HUGEPAGE
        madvise(pages, length, MADV_HUGEPAGE);  // a hint: fewer, larger page faults
#endif
        stream.bytes = std::unique_ptr<uint8_t[], EntryBytesRelease>(static_cast<uint8_t *>(pages),
                                                                     EntryBytesRelease{length});
    } else {
        uint8_t *bytes = new (std::nothrow) uint8_t[length > 0 ? length : 1];
        if (bytes == nullptr) return false;
        stream.bytes = std::unique_ptr<uint8_t[], EntryBytesRelease>(bytes, EntryBytesRelease{0});
    }
    stream.length = length;
    return true;
}

DataFile::~DataFile() { close(); }

void DataFile::resetState(Mode newMode, const std::string &newPath)
{
    mode = newMode;
    path = newPath;
    endReached = false;
    writeFailed = false;
    bitPending = false;
    bitByte = 0;
    bitMask = 0;
}

bool DataFile::openForRead(const std::string &newPath)
{
    ProjectArchive *archive = currentArchive();
    if (archive == nullptr) return openForReadFromDisk(newPath);
    close();
    entryStream = readEntry(archive, newPath);
    if (!entryStream) return false;
    resetState(Mode::Read, newPath);
    return true;
}

bool DataFile::openForReadFromDisk(const std::string &newPath)
{
    close();
    stream = fopen(newPath.c_str(), "rb");
    if (stream == nullptr) return false;
    resetState(Mode::Read, newPath);
    return true;
}

bool DataFile::openForWrite(const std::string &newPath)
{
    close();
    stream = fopen(newPath.c_str(), "wb");
    if (stream == nullptr) return false;
    resetState(Mode::Write, newPath);
    return true;
}

bool DataFile::close()
{
    if (mode == Mode::Closed) return true;
    finishBits();
    bool ok = !writeFailed;
    if (stream != nullptr) {
        if (fclose(stream) != 0 && mode == Mode::Write) ok = false;
        stream = nullptr;
    }
    entryStream.reset();
    mode = Mode::Closed;
    endReached = false;
    return ok;
}

bool DataFile::syncToDisk()
{
    if (mode != Mode::Write) return false;
    finishBits();
    if (fflush(stream) != 0 || fsync(fileno(stream)) != 0) writeFailed = true;
    return !writeFailed;
}

// ---- raw primitives

size_t DataFile::rawRead(void *buffer, size_t count)
{
    size_t got = 0;
    if (entryStream) {
        MemoryStream &entry = *entryStream;
        if (entry.position < entry.length) {
            got = entry.length - entry.position;
            if (got > count) got = count;
            memcpy(buffer, entry.bytes.get() + entry.position, got);
            entry.position += got;
        }
    } else if (stream != nullptr) {
        got = fread(buffer, 1, count, stream);
    }
    if (got < count) endReached = true;
    return got;
}

bool DataFile::rawWrite(const void *data, size_t count)
{
    if (stream == nullptr || fwrite(data, 1, count, stream) != count) writeFailed = true;
    return !writeFailed;
}

bool DataFile::rawSeek(int64_t position)
{
    if (position < 0) return false;
    if (entryStream) {
        entryStream->position = static_cast<size_t>(position);
        return true;
    }
    return stream != nullptr && fseeko(stream, static_cast<off_t>(position), SEEK_SET) == 0;
}

int64_t DataFile::rawTell()
{
    if (entryStream) return static_cast<int64_t>(entryStream->position);
    if (stream == nullptr) return 0;
    const off_t position = ftello(stream);
    return position < 0 ? 0 : static_cast<int64_t>(position);
}

bool DataFile::readable()
{
    if (mode == Mode::Read) return true;
    if (mode == Mode::Closed) endReached = true;  // nothing to read: callers testing atEnd see it
    return false;
}

// Write mode: the partial byte goes out with its high bits 0. Read mode: step past the byte
// that the bit reads kept the position on.
void DataFile::finishBits()
{
    if (!bitPending) return;
    bitPending = false;
    if (mode == Mode::Write) {
        rawWrite(&bitByte, 1);
    } else if (mode == Mode::Read) {
        rawSeek(rawTell() + 1);
    }
}

// ---- writes

bool DataFile::writeInt32(int32_t value)
{
    if (mode != Mode::Write) return false;
    finishBits();
    const uint32_t v = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return rawWrite(bytes, 4);
}

bool DataFile::writeInt16(int16_t value)
{
    if (mode != Mode::Write) return false;
    finishBits();
    const uint16_t v = static_cast<uint16_t>(value);
    const uint8_t bytes[2] = {uint8_t(v), uint8_t(v >> 8)};
    return rawWrite(bytes, 2);
}

// NaN stores 0; values beyond the int32 range store the nearest int32 with fraction 0.
bool DataFile::writeReal(float value)
{
    if (mode != Mode::Write) return false;
    int32_t whole = 0;
    int32_t fraction = 0;
    const double x = value;
    const double floored = std::floor(x);
    if (std::isnan(x)) {
        whole = 0;
    } else if (floored < -2147483648.0) {
        whole = INT32_MIN;
    } else if (floored > 2147483647.0) {
        whole = INT32_MAX;
    } else {
        whole = static_cast<int32_t>(floored);
        fraction = static_cast<int32_t>((x - floored) * FRACTION_SCALE);  // 0 <= fraction < 1e9
    }
    return writeInt32(whole) && writeInt32(fraction);
}

bool DataFile::writeByte(uint8_t value)
{
    if (mode != Mode::Write) return false;
    finishBits();
    return rawWrite(&value, 1);
}

bool DataFile::writeBit(bool value)
{
    if (mode != Mode::Write) return false;
    if (!bitPending) {
        bitPending = true;
        bitByte = 0;
        bitMask = 1;
    } else {
        bitMask = static_cast<uint8_t>(bitMask << 1);
    }
    if (value) bitByte |= bitMask;
    if (bitMask == 128) {
        bitPending = false;
        return rawWrite(&bitByte, 1);
    }
    return !writeFailed;
}

bool DataFile::writeString(const std::string &text)
{
    if (mode != Mode::Write) return false;
    const int32_t length = text.size() > static_cast<size_t>(INT32_MAX) ? INT32_MAX
                                                                        : static_cast<int32_t>(text.size());
    if (!writeInt32(length)) return false;
    if (length > MAX_STRING_LENGTH) return true;
    return rawWrite(text.data(), text.size());
}

bool DataFile::writeBytes(const void *data, size_t count)
{
    if (mode != Mode::Write) return false;
    finishBits();
    return rawWrite(data, count);
}

// ---- reads

int32_t DataFile::readInt32()
{
    if (!readable()) return 0;
    finishBits();
    uint8_t b[4];
    if (rawRead(b, 4) != 4) return 0;
    return static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                                uint32_t(b[3]) << 24);
}

int16_t DataFile::readInt16()
{
    if (!readable()) return 0;
    finishBits();
    uint8_t b[2];
    if (rawRead(b, 2) != 2) return 0;
    return static_cast<int16_t>(uint16_t(b[0]) | uint16_t(b[1]) << 8);
}

// whole (signed) + fraction (unsigned) / 1e9 in extended precision, rounded once to float.
float DataFile::readReal()
{
    if (!readable()) return 0.0f;
    const int32_t whole = readInt32();
    const uint32_t fraction = static_cast<uint32_t>(readInt32());
    return realFromParts(whole, fraction);
}

float realFromParts(int32_t whole, uint32_t fraction)
{
    return static_cast<float>(static_cast<long double>(fraction) / 1000000000.0L + whole);
}

uint8_t DataFile::readByte()
{
    if (!readable()) return 0;
    finishBits();
    uint8_t value = 0;
    if (rawRead(&value, 1) != 1) return 0;
    return value;
}

// Every bit reads its byte again; while the byte is unfinished the position steps back onto it.
bool DataFile::readBit()
{
    if (!readable()) return false;
    if (!bitPending) {
        bitPending = true;
        bitMask = 1;
    } else {
        bitMask = static_cast<uint8_t>(bitMask << 1);
        if (bitMask == 128) bitPending = false;
    }
    uint8_t value = 0;
    if (rawRead(&value, 1) == 1) {
        if (bitPending) rawSeek(rawTell() - 1);
    } else {
        value = 0;
    }
    bitByte = value;
    return (bitByte & bitMask) != 0;
}

std::string DataFile::readString()
{
    if (!readable()) return std::string();
    const int32_t length = readInt32();
    if (endReached || length < 0 || length > MAX_STRING_LENGTH) return std::string();
    char buffer[MAX_STRING_LENGTH];
    if (rawRead(buffer, static_cast<size_t>(length)) != static_cast<size_t>(length)) return std::string();
    return std::string(buffer, strnlen(buffer, static_cast<size_t>(length)));
}

bool DataFile::readBytes(void *buffer, size_t count)
{
    if (!readable()) return false;
    return rawRead(buffer, count) == count;
}

bool DataFile::readBytesAt(int64_t position, void *buffer, size_t count)
{
    if (mode != Mode::Read || position < 0) return false;
    if (entryStream) {
        const MemoryStream &entry = *entryStream;
        if (static_cast<uint64_t>(position) > entry.length || count > entry.length - static_cast<size_t>(position))
            return false;
        memcpy(buffer, entry.bytes.get() + position, count);
        return true;
    }
    uint8_t *into = static_cast<uint8_t *>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = pread(fileno(stream), into + done, count - done, static_cast<off_t>(position + done));
        if (got <= 0) {
            if (got < 0 && errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

// ---- position

bool DataFile::seek(int64_t position)
{
    if (mode == Mode::Closed) return false;
    finishBits();
    endReached = false;
    if (stream != nullptr) clearerr(stream);
    return rawSeek(position);
}

bool DataFile::skip(int16_t delta)
{
    if (mode == Mode::Closed) return false;
    return seek(rawTell() + delta);  // the position before a pending bit byte is finished
}

int64_t DataFile::tell() { return rawTell(); }

int64_t DataFile::size()
{
    if (entryStream) return static_cast<int64_t>(entryStream->length);
    if (stream == nullptr) return 0;
    const off_t here = ftello(stream);
    if (fseeko(stream, 0, SEEK_END) != 0) return 0;
    const off_t end = ftello(stream);
    fseeko(stream, here, SEEK_SET);
    return end < 0 ? 0 : static_cast<int64_t>(end);
}

bool fileExists(const std::string &path)
{
    ProjectArchive *archive = currentArchive();
    if (archive != nullptr) return hasEntry(archive, path);
    DataFile file;
    const bool opened = file.openForReadFromDisk(path);
    file.close();
    return opened;
}
