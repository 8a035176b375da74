// tools/pack/skeleton_json.cpp - the JSON reader of import-skeleton, and its notes.
//
// A recursive-descent reader of standard JSON into JsonValue trees that remember their lines.
// It refuses what is not JSON rather than guessing: the editor's "JavaScript" and "Minimal"
// export formats leave keys unquoted, which is reported as such so the user knows to export
// again. Nesting is limited (the editor's exports are about seven deep) so no input can exhaust
// the stack.
// Threads: one.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "skeleton_export.h"

const JsonValue *JsonValue::find(const std::string &key) const
{
    for (size_t i = 0; i < keys.size(); i++) {
        if (keys[i] == key) return &items[i];
    }
    return nullptr;
}

namespace {

const int MAX_JSON_DEPTH = 100;

struct JsonReader
{
    const std::string &text;
    JsonProblem &problem;
    size_t at = 0;
    int line = 1;
    int depth = 0;

    bool fail(const std::string &message)
    {
        if (problem.message.empty()) problem.message = message, problem.line = line;
        return false;
    }
    void skipBlanks()
    {
        for (; at < text.size(); at++) {
            const char c = text[at];
            if (c == '\n') line++;
            else if (c != ' ' && c != '\t' && c != '\r') break;
        }
    }
    bool literal(const char *word)
    {
        const std::string w = word;
        if (text.compare(at, w.size(), w) != 0) return fail("unexpected text (expected a value)");
        at += w.size();
        return true;
    }
    static void appendUtf8(std::string &out, uint32_t code)
    {
        if (code < 0x80) {
            out += (char)code;
        } else if (code < 0x800) {
            out += (char)(0xC0 | code >> 6), out += (char)(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += (char)(0xE0 | code >> 12), out += (char)(0x80 | (code >> 6 & 0x3F)), out += (char)(0x80 | (code & 0x3F));
        } else {
            out += (char)(0xF0 | code >> 18), out += (char)(0x80 | (code >> 12 & 0x3F));
            out += (char)(0x80 | (code >> 6 & 0x3F)), out += (char)(0x80 | (code & 0x3F));
        }
    }
    bool hex4(uint32_t &code)
    {
        code = 0;
        for (int i = 0; i < 4; i++, at++) {
            if (at >= text.size() || !isxdigit((unsigned char)text[at])) return fail("bad \\u escape in a string");
            const char c = text[at];
            code = code * 16 + (uint32_t)(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        return true;
    }
    bool string(std::string &out)
    {
        at++;  // the opening quote
        for (;;) {
            if (at >= text.size()) return fail("a string is not closed");
            const unsigned char c = (unsigned char)text[at++];
            if (c == '"') return true;
            if (c < 0x20) return fail("a control character inside a string");
            if (c != '\\') {
                out += (char)c;
                continue;
            }
            if (at >= text.size()) return fail("a string is not closed");
            const char e = text[at++];
            static const char plain[] = "\"\\/bfnrt", meaning[] = "\"\\/\b\f\n\r\t";
            const char *found = e ? strchr(plain, e) : nullptr;
            if (found) {
                out += meaning[found - plain];
                continue;
            }
            if (e != 'u') return fail(std::string("bad escape '\\") + e + "' in a string");
            uint32_t code = 0;
            if (!hex4(code)) return false;
            if (code >= 0xD800 && code < 0xDC00) {  // a surrogate pair
                uint32_t low = 0;
                if (text.compare(at, 2, "\\u") != 0) return fail("half of a surrogate pair in a string");
                at += 2;
                if (!hex4(low)) return false;
                if (low < 0xDC00 || low > 0xDFFF) return fail("half of a surrogate pair in a string");
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else if (code >= 0xDC00 && code < 0xE000) {
                return fail("half of a surrogate pair in a string");
            }
            appendUtf8(out, code);
        }
    }
    bool digits()
    {
        const size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') at++;
        return at > start;
    }
    bool number(double &out)
    {
        const size_t start = at;
        if (text[at] == '-') at++;
        if (at < text.size() && text[at] == '0') at++;
        else if (!digits()) return fail("unexpected text (expected a value)");
        if (at < text.size() && text[at] == '.') {
            at++;
            if (!digits()) return fail("a number ends in '.'");
        }
        if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
            at++;
            if (at < text.size() && (text[at] == '+' || text[at] == '-')) at++;
            if (!digits()) return fail("a number with an empty exponent");
        }
        out = strtod(text.substr(start, at - start).c_str(), nullptr);
        return std::isfinite(out) || fail("a number too large to hold");
    }
    bool value(JsonValue &out)
    {
        skipBlanks();
        out.line = line;
        if (at >= text.size()) return fail("the text ends where a value should be");
        const char c = text[at];
        if (c == '{' || c == '[') {
            if (++depth > MAX_JSON_DEPTH) return fail("nested more than 100 deep");
            const bool done = c == '{' ? object(out) : array(out);
            depth--;
            return done;
        }
        if (c == '"') {
            out.kind = JsonValue::STRING;
            return string(out.text);
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            out.kind = JsonValue::NUMBER;
            return number(out.number);
        }
        if (c == 't' || c == 'f') {
            out.kind = JsonValue::BOOLEAN;
            out.boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') return literal("null");
        return fail(std::string("unexpected '") + c + "' (expected a value)");
    }
    // After `[` or `{`: elements separated by commas up to `close`.
    template <typename Element>
    bool elements(char close, Element element)
    {
        at++;
        skipBlanks();
        if (at < text.size() && text[at] == close) {
            at++;
            return true;
        }
        for (;;) {
            if (!element()) return false;
            skipBlanks();
            if (at < text.size() && text[at] == ',') {
                at++;
                continue;
            }
            if (at < text.size() && text[at] == close) {
                at++;
                return true;
            }
            return fail(std::string("expected ',' or '") + close + "'");
        }
    }
    bool array(JsonValue &out)
    {
        out.kind = JsonValue::ARRAY;
        return elements(']', [&] {
            out.items.emplace_back();
            return value(out.items.back());
        });
    }
    bool object(JsonValue &out)
    {
        out.kind = JsonValue::OBJECT;
        return elements('}', [&] {
            skipBlanks();
            if (at >= text.size() || text[at] != '"') {
                const char c = at < text.size() ? text[at] : 0;
                if (isalpha((unsigned char)c) || c == '_' || c == '$') {
                    fail("a key without quotes");
                    problem.unquotedKey = true;
                    return false;
                }
                return fail("expected a key in double quotes");
            }
            out.keys.emplace_back();
            if (!string(out.keys.back())) return false;
            skipBlanks();
            if (at >= text.size() || text[at] != ':') return fail("expected ':' after a key");
            at++;
            out.items.emplace_back();
            return value(out.items.back());
        });
    }
};

}  // namespace

bool parseJson(const std::string &text, JsonValue &out, JsonProblem &problem)
{
    out = JsonValue();
    problem = JsonProblem();
    JsonReader reader{text, problem};
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) reader.at = 3;
    if (!reader.value(out)) return false;
    reader.skipBlanks();
    return reader.at == text.size() || reader.fail("more text after the end of the data");
}

// ---------------------------------------------------------------- notes

void ImportNotes::add(const std::string &kind, const std::string &name)
{
    for (auto &entry : entries) {
        if (entry.first != kind) continue;
        for (const std::string &known : entry.second) {
            if (known == name) return;
        }
        entry.second.push_back(name);
        return;
    }
    entries.push_back({kind, {name}});
}

bool ImportNotes::has(const std::string &kind) const
{
    for (const auto &entry : entries) {
        if (entry.first == kind) return true;
    }
    return false;
}

std::vector<std::string> ImportNotes::kinds() const
{
    std::vector<std::string> list;
    for (const auto &entry : entries) list.push_back(entry.first);
    return list;
}

void ImportNotes::print(const std::string &file, SourceReport &report) const
{
    for (const auto &entry : entries) {
        std::string names;
        for (const std::string &name : entry.second) names += (names.empty() ? "" : ", ") + name;
        report.warning(file, 0, entry.first + ": " + names);
    }
}
