// archive_bench - the cost of opening archive entries: readEntry (one read straight into the
// entry's buffer, then XOR in place eight bytes at a time) beside the straightforward copy
// (readByte, XOR, append to an in-memory stream, one byte at a time) in the same run.
// Workloads: one 64 MiB entry and a thousand 4 KiB entries, read from a warm page cache.
// Prints MB/s for both, the ratio, whether the bytes are identical, and how much the peak
// resident memory grew during the first large read (one copy = about 64 MiB).
// Usage: archive_bench [repetitions]   (default 5; the naive copy runs once per workload)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "resources/archive.h"
#include "resources/data_file.h"

using Clock = std::chrono::steady_clock;

static const size_t LARGE = 64u << 20;
static const int SMALL_COUNT = 1000;
static const size_t SMALL = 4096;

static double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

static long peakKiB()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

static uint8_t patternByte(size_t i, size_t seed) { return static_cast<uint8_t>((i * 2654435761u + seed) >> 13); }

// Writes `size` bytes of the pattern to `path` in 1 MiB blocks (keeps the peak memory low).
static bool writePattern(const std::string &path, size_t size, size_t seed)
{
    DataFile out;
    if (!out.openForWrite(path)) return false;
    std::vector<uint8_t> block(1 << 20);
    for (size_t done = 0; done < size; done += block.size()) {
        const size_t n = std::min(block.size(), size - done);
        for (size_t i = 0; i < n; i++) block[i] = patternByte(done + i, seed);
        out.writeBytes(block.data(), n);
    }
    return out.close();
}

// The straightforward copy: one readByte per byte, XOR, append to a stringstream.
struct NaiveArchive
{
    DataFile file;
    std::vector<ArchiveIndexEntry> index;
};

static std::string naiveRead(NaiveArchive &archive, const std::string &name)
{
    for (const ArchiveIndexEntry &entry : archive.index) {
        if (entry.name != name) continue;
        std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
        archive.file.seek(entry.offset);
        for (int32_t i = 0; i < entry.size; i++) stream.put(static_cast<char>(archive.file.readByte() ^ ARCHIVE_KEY));
        return stream.str();
    }
    return std::string();
}

static bool sameBytes(const MemoryStream &entry, const std::string &naive, size_t seed)
{
    if (entry.length != naive.size()) return false;
    for (size_t i = 0; i < entry.length; i++) {
        if (entry.bytes[i] != static_cast<uint8_t>(naive[i]) || entry.bytes[i] != patternByte(i, seed)) return false;
    }
    return true;
}

int main(int argc, char **argv)
{
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    char folder[] = "/tmp/qf-archive-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string dir = folder;
    if (chdir(dir.c_str()) != 0) return 1;

    std::vector<std::string> files = {"Projects/bench/Audio/large.ogg"};
    for (int i = 0; i < SMALL_COUNT; i++) files.push_back("Projects/bench/Images/small" + std::to_string(i));
    if (system("mkdir -p Projects/bench/Audio Projects/bench/Images") != 0) return 1;
    for (size_t i = 0; i < files.size(); i++) {
        if (!writePattern(files[i], i == 0 ? LARGE : SMALL, i)) return 1;
    }
    if (!buildArchive(files, "bench.qfa", ARCHIVE_KEY)) return 1;
    ProjectArchive *archive = openArchive("bench.qfa", ARCHIVE_KEY);
    NaiveArchive naive;
    std::string problem;
    if (!archive || !naive.file.openForReadFromDisk("bench.qfa") || !readArchiveIndex(naive.file, naive.index, problem))
        return 1;
    naive.file.seek(0);

    // Large entry: readEntry, best of the repetitions; the memory growth of the first read.
    const long peakBefore = peakKiB();
    double best = 1e9;
    std::unique_ptr<MemoryStream> large;
    for (int r = 0; r < repetitions; r++) {
        large.reset();
        const Clock::time_point start = Clock::now();
        large = readEntry(archive, files[0]);
        best = std::min(best, seconds(start));
        if (r == 0) {
            const long grown = peakKiB() - peakBefore;
            printf("peak memory growth during the first 64 MiB read: %.1f MiB (one copy is 64.0 MiB)\n", grown / 1024.0);
        }
    }
    const Clock::time_point naiveStart = Clock::now();
    const std::string naiveLarge = naiveRead(naive, files[0]);
    const double naiveSeconds = seconds(naiveStart);
    const double mb = LARGE / 1e6;
    printf("64 MiB entry:   readEntry %8.0f MB/s   one byte at a time %6.0f MB/s   ratio %5.1fx   bytes %s\n",
           mb / best, mb / naiveSeconds, naiveSeconds / best, sameBytes(*large, naiveLarge, 0) ? "identical" : "DIFFER");
    large.reset();

    // Small entries: all thousand per repetition.
    best = 1e9;
    bool identical = true;
    for (int r = 0; r < repetitions; r++) {
        const Clock::time_point start = Clock::now();
        size_t total = 0;
        for (int i = 1; i <= SMALL_COUNT; i++) total += readEntry(archive, files[i])->length;
        best = std::min(best, seconds(start));
        if (total != SMALL * SMALL_COUNT) identical = false;
    }
    const Clock::time_point smallNaiveStart = Clock::now();
    std::vector<std::string> naiveSmall;
    for (int i = 1; i <= SMALL_COUNT; i++) naiveSmall.push_back(naiveRead(naive, files[i]));
    const double smallNaive = seconds(smallNaiveStart);
    for (int i = 1; i <= SMALL_COUNT && identical; i++) {
        identical = sameBytes(*readEntry(archive, files[i]), naiveSmall[i - 1], static_cast<size_t>(i));
    }
    const double smallMb = SMALL * SMALL_COUNT / 1e6;
    printf("1000 x 4 KiB:   readEntry %8.0f MB/s   one byte at a time %6.0f MB/s   ratio %5.1fx   bytes %s"
           "   (%.1f us per entry)\n",
           smallMb / best, smallMb / smallNaive, smallNaive / best, identical ? "identical" : "DIFFER",
           best / SMALL_COUNT * 1e6);

    closeArchive(archive);
    naive.file.close();
    const std::string cleanup = "rm -rf '" + dir + "'";
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
