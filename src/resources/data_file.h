// resources/data_file.h - the one file object: a loose file on disk or a copied archive entry,
// with typed little-endian reads and writes (32/16-bit integers, reals as two integers, bytes,
// bits packed eight to a byte, length-prefixed strings of at most 1024 bytes).
//
// openForRead reads from the current archive when there is one (the disk is not consulted
// then), else from the disk; openForReadFromDisk always reads the disk; writing always goes to
// the disk.
//
// Threads: any thread may open a DataFile; an open DataFile belongs to the thread using it
// (an archive entry is copied under the archive lock at open, after that nothing is shared).
// Failure: opens return false; a read past the end sets atEnd() and returns 0 / false / "";
// a read on a write-mode file (or a write on a read-mode file) does nothing and returns
// 0 / false / "".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// Frees entry bytes the way allocateEntryBytes got them (large ones are mapped pages).
struct EntryBytesRelease
{
    size_t mappedLength = 0;  // 0: allocated with new[]
    void operator()(uint8_t *bytes) const;
};

// The unscrambled bytes of one archive entry, owned by the DataFile that opened it.
struct MemoryStream
{
    std::unique_ptr<uint8_t[], EntryBytesRelease> bytes;  // `length` bytes
    size_t length = 0;
    size_t position = 0;  // may lie past `length` after a seek; reads there fail
};
// Gives `stream` room for `length` bytes (contents undefined). Entries of 2 MiB and more get
// their own pages, asked to be huge pages: touching fresh memory is what costs most in a
// large copy. False when the memory cannot be had.
bool allocateEntryBytes(MemoryStream &stream, size_t length);

class DataFile
{
public:
    DataFile() = default;
    ~DataFile();  // closes; callers should close themselves and look at the result
    DataFile(const DataFile &) = delete;
    DataFile &operator=(const DataFile &) = delete;

    // --- opening and closing (an open file is closed first)
    bool openForRead(const std::string &path);          // archive entry when an archive is current
    bool openForReadFromDisk(const std::string &path);  // the disk file, archive or not
    bool openForWrite(const std::string &path);         // create or truncate on disk
    // Finishes a pending bit byte and closes. False when any write failed or the disk file
    // did not close cleanly (a save must not trust such a file); true for read files.
    bool close();
    // Write mode: finishes a pending bit byte, flushes and fsyncs. False on any failure.
    bool syncToDisk();
    bool isOpen() const { return mode != Mode::Closed; }
    const std::string &filePath() const { return path; }

    // --- writes: little-endian; true on success, false in read mode or on a failed write
    bool writeInt32(int32_t value);
    bool writeInt16(int16_t value);
    bool writeReal(float value);  // int32 floor(value), then int32 fraction * 1e9 truncated
    bool writeByte(uint8_t value);
    bool writeBit(bool value);    // least significant first; the 8th bit writes the byte
    bool writeString(const std::string &text);  // int32 length, bytes only when length <= 1024
    bool writeBytes(const void *data, size_t count);  // raw bytes (tools, entry extraction)

    // --- reads: little-endian, signed; 0 / false / "" when they fail
    int32_t readInt32();
    int16_t readInt16();
    float readReal();
    uint8_t readByte();
    bool readBit();
    std::string readString();  // "" for a stored length outside 0..1024 (only the length is consumed)
    bool readBytes(void *buffer, size_t count);  // raw; true when all `count` bytes came
    // Raw bytes at an absolute position, leaving the position, bits and atEnd as they were:
    // one system call for a disk file (archive copies). True when all `count` bytes came.
    bool readBytesAt(int64_t position, void *buffer, size_t count);

    // --- position
    bool seek(int64_t position);  // finishes bits, clears atEnd; false for a negative position
    bool skip(int16_t delta);     // seek(tell() + delta)
    int64_t tell();
    int64_t size();               // total length; the position is kept (bit state untouched)
    bool atEnd() const { return endReached; }  // a read ran past the end (or nothing is open)

private:
    enum class Mode { Closed, Read, Write };

    void resetState(Mode newMode, const std::string &newPath);
    void finishBits();
    size_t rawRead(void *buffer, size_t count);
    bool rawWrite(const void *data, size_t count);
    bool rawSeek(int64_t position);
    int64_t rawTell();
    bool readable();  // read mode; otherwise a read fails (and sets atEnd when closed)

    FILE *stream = nullptr;                     // disk file (read from disk, or write)
    std::unique_ptr<MemoryStream> entryStream;  // archive entry copy; when set, reads go here
    std::string path;                           // as given at open
    Mode mode = Mode::Closed;
    bool endReached = false;   // a read ran past the end of the data
    bool writeFailed = false;  // a write (or the final flush) failed since the open
    bool bitPending = false;   // a bit byte was started and not finished
    uint8_t bitByte = 0;       // the byte being packed or unpacked
    uint8_t bitMask = 0;       // mask of the current bit: 1, 2, 4 ... 128
};

// The value readReal gives for a stored real: fraction / 1e9 + whole in extended precision,
// rounded once to single precision (the fraction is taken as unsigned, even past 1e9).
float realFromParts(int32_t whole, uint32_t fraction);

// openForRead on a fresh file, then close: with a current archive only its index is asked.
bool fileExists(const std::string &path);
