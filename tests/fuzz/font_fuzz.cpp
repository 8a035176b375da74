// libFuzzer target: arbitrary bytes as a font descriptor. The reader must refuse or accept them
// without crashing, reading out of bounds or allocating without bound; an accepted font is then
// measured, which walks its glyph and kerning maps as the text pen does. No GL is involved.
// The bytes go through a real loose file so the engine's DataFile does the reading.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "graphics/font.h"
#include "resources/data_file.h"

static std::string scratchPath()
{
    const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/quillfen-font-fuzz-" + std::to_string(getpid()) + ".fnt";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = scratchPath();
    FILE *out = fopen(path.c_str(), "wb");
    if (out == nullptr) return 0;
    fwrite(data, 1, size, out);
    fclose(out);

    DataFile file;
    if (!file.openForReadFromDisk(path)) return 0;
    Font font;
    std::vector<std::string> pageNames;
    if (parseFontDescriptor(file, &font, &pageNames)) {
        if (pageNames.size() != font.pageCount) __builtin_trap();
        if (font.glyphs.size() > 20001) __builtin_trap();  // 10000 chars + 10000 kerning-made + id 0
        static const char text[] = "AV To\nWAVE\xe9\x80 0123";
        textWidth(&font, text);
    }
    file.close();
    return 0;
}
