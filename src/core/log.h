// core/log.h - tagged report lines on stdout/stderr.
// A report's first line starts with its tag ("ERROR: ", "WARNING: ", "CRITICAL ERROR: ");
// continuation lines are indented so their text lines up under the first line's text.
// Threads: any; each report is written with one fwrite so lines of two threads do not mix.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

#define LOG_ERROR "ERROR: "
#define LOG_WARNING "WARNING: "
#define LOG_CRITICAL "CRITICAL ERROR: "

// Writes tag + lines[0], then every further line indented by the tag's width; each ends in "\n".
void logReport(FILE *stream, const char *tag, std::initializer_list<std::string> lines);
// One "ERROR: " line on stderr; returns false so callers can `return logError(...)`.
bool logError(const std::string &line);
