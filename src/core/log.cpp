// core/log.cpp - the one helper that formats tagged, indented report lines.
#include "core/log.h"

#include <cstring>

void logReport(FILE *stream, const char *tag, std::initializer_list<std::string> lines)
{
    std::string text;
    const std::string indent(strlen(tag), ' ');
    bool first = true;
    for (const std::string &line : lines) {
        text += first ? tag : indent;
        text += line;
        text += '\n';
        first = false;
    }
    fwrite(text.data(), 1, text.size(), stream);
    fflush(stream);
}

bool logError(const std::string &line)
{
    logReport(stderr, LOG_ERROR, {line});
    return false;
}
