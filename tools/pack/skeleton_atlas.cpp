// tools/pack/skeleton_atlas.cpp - reading the editor's text atlas: pages (an image each) and the
// named rectangles packed on them.
//
// Lines: a line with ':' is "key: value, value..." of the current page or region; a line without
// one is a page's image name when it comes first or after a blank line, else a region's name.
// Blanks around lines and CR LF endings do not matter. Both spellings of the region keys are read:
// bounds / offsets (newer) and xy, size, orig, offset (older). A rotated region is taken as
// stored a quarter turn from upright with its upright size given (docs/skeleton-import.md: the one
// reading of the atlas that exports have not confirmed). Unknown keys are noted, not refused.
// Threads: one.
#include <cctype>

#include "skeleton_export.h"

const AtlasRegion *TextureAtlas::find(const std::string &name) const
{
    const AtlasRegion *best = nullptr;
    for (const AtlasRegion &region : regions) {
        if (region.name == name && (best == nullptr || region.index < best->index)) best = &region;
    }
    return best;
}

namespace {

const char *const NOTE_ATLAS_KEYS = "unknown atlas keys are left out";

struct AtlasReader
{
    const std::string &file;
    SourceReport &report;
    ImportNotes &notes;
    TextureAtlas &out;
    int line = 0;
    bool ok = true;
    // What a region's keys said; checked and completed when the region ends.
    bool haveBounds = false, haveSize = false, haveOrig = false;

    void refuse(const std::string &message)
    {
        report.error(file, line, message);
        ok = false;
    }
    // `count` whole numbers from 0 up (signed when `negative`), else a refusal naming the key.
    bool integers(const std::string &key, const std::vector<std::string> &values, size_t count, int *into,
                  bool negative = false)
    {
        bool good = values.size() == count;
        for (size_t i = 0; good && i < count; i++) {
            int32_t number = 0;
            good = parseInt32(values[i], number) && (negative || number >= 0) && number <= 1000000;
            into[i] = number;
        }
        if (!good) refuse("'" + key + "' needs " + std::to_string(count) + " whole numbers");
        return good;
    }
    void pageKey(const std::string &key, const std::vector<std::string> &values)
    {
        AtlasPage &page = out.pages.back();
        if (key == "size") {
            int size[2] = {0, 0};
            if (integers(key, values, 2, size)) page.width = size[0], page.height = size[1];
        } else if (key == "pma") {
            if (values.size() != 1 || (values[0] != "true" && values[0] != "false")) refuse("'pma' is true or false");
            page.premultiplied = values.size() == 1 && values[0] == "true";
        } else if (key != "format" && key != "filter" && key != "repeat") {
            notes.add(NOTE_ATLAS_KEYS, key);
        }
    }
    void regionKey(const std::string &key, const std::vector<std::string> &values)
    {
        AtlasRegion &region = out.regions.back();
        int n[4] = {0, 0, 0, 0};
        if (key == "bounds" && integers(key, values, 4, n)) {
            region.x = n[0], region.y = n[1], region.width = n[2], region.height = n[3];
            haveBounds = haveSize = true;
        } else if (key == "xy" && integers(key, values, 2, n)) {
            region.x = n[0], region.y = n[1];
            haveBounds = true;
        } else if (key == "size" && integers(key, values, 2, n)) {
            region.width = n[0], region.height = n[1];
            haveSize = true;
        } else if (key == "offsets" && integers(key, values, 4, n)) {
            region.offsetX = n[0], region.offsetY = n[1], region.originalWidth = n[2], region.originalHeight = n[3];
            haveOrig = true;
        } else if (key == "offset" && integers(key, values, 2, n)) {
            region.offsetX = n[0], region.offsetY = n[1];
        } else if (key == "orig" && integers(key, values, 2, n)) {
            region.originalWidth = n[0], region.originalHeight = n[1];
            haveOrig = true;
        } else if (key == "rotate") {
            const std::string turn = values.size() == 1 ? values[0] : "";
            if (turn == "true" || turn == "90") region.rotated = true;
            else if (turn == "false" || turn == "0") region.rotated = false;
            else refuse("'rotate: " + turn + "': only a quarter turn (true or 90) is read; other turns are not confirmed");
        } else if (key == "index") {
            integers(key, values, 1, &region.index, true);
        } else if (key != "bounds" && key != "xy" && key != "size" && key != "offsets" && key != "offset" &&
                   key != "orig" && key != "split" && key != "pad") {
            notes.add(NOTE_ATLAS_KEYS, key);
        }
    }
    // The region read last is complete: it needs its rectangle, and its stripped border must fit.
    void endRegion()
    {
        if (out.regions.empty()) return;
        AtlasRegion &region = out.regions.back();
        if (!haveBounds || !haveSize || region.width <= 0 || region.height <= 0) {
            report.error(file, region.line, "region '" + region.name + "' has no rectangle (bounds, or xy and size)");
            ok = false;
        }
        if (!haveOrig) region.originalWidth = region.width, region.originalHeight = region.height;
        if (region.offsetX + region.width > region.originalWidth || region.offsetY + region.height > region.originalHeight) {
            report.error(file, region.line, "region '" + region.name + "' does not fit its original size (offsets)");
            ok = false;
        }
        haveBounds = haveSize = haveOrig = false;
    }
};

std::vector<std::string> commaSeparated(const std::string &text)
{
    std::vector<std::string> values;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        values.push_back(trimmed(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos) return values;
        start = comma + 1;
    }
}

bool isKeyWord(const std::string &key)
{
    if (key.empty()) return false;
    for (char c : key) {
        if (!isalpha((unsigned char)c)) return false;
    }
    return true;
}

}  // namespace

bool readAtlas(const std::string &text, const std::string &file, TextureAtlas &out, SourceReport &report,
               ImportNotes &notes)
{
    out = TextureAtlas();
    AtlasReader reader{file, report, notes, out};
    bool pageNext = true;  // the next name line is a page's (first, or after a blank line)
    bool inRegion = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string content = text.substr(start, end - start);
        if (!content.empty() && content.back() == '\r') content.pop_back();
        content = trimmed(content);
        start = end + 1;
        reader.line++;
        if (content.find('\0') != std::string::npos) {
            reader.refuse("a zero byte in a line");
            continue;
        }
        if (content.empty()) {
            pageNext = pageNext || !out.pages.empty();
            continue;
        }
        const size_t colon = content.find(':');
        if (colon == std::string::npos) {
            if (inRegion) reader.endRegion();
            if (pageNext) {
                out.pages.push_back({content, 0, 0, false, reader.line});
                pageNext = inRegion = false;
            } else {
                AtlasRegion region;
                region.name = content;
                region.page = (int)out.pages.size() - 1;
                region.line = reader.line;
                out.regions.push_back(region);
                inRegion = true;
            }
            continue;
        }
        const std::string key = trimmed(content.substr(0, colon));
        if (!isKeyWord(key)) {
            reader.refuse("'" + content + "' is neither 'key: value' nor a name (a region name with ':' cannot be told "
                          "from a key)");
            continue;
        }
        if (out.pages.empty()) {
            reader.refuse("'" + key + ":' comes before the first page's image name");
            continue;
        }
        pageNext = false;
        const std::vector<std::string> values = commaSeparated(content.substr(colon + 1));
        if (inRegion) reader.regionKey(key, values);
        else reader.pageKey(key, values);
    }
    if (inRegion) reader.endRegion();
    if (out.pages.empty()) {
        report.error(file, 0, "not an atlas: it names no page image");
        return false;
    }
    return reader.ok;
}
