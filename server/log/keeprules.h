#pragma once

#include <QtGlobal>

#include "log/linerewriter.h"

// The day a log line starts with, in the form ActivityLog::timestamp() writes, as yyyymmdd; -1
// when its first blank-separated field is no such date. The line end, if any, is not looked at.
int logLineDay(const char* line, qsizetype size);

// The age purge's rule: lines dated after `cutoffDay` (yyyymmdd) stay. A line without a date goes
// with the line before it; one at the start stays.
LineRewriter::KeepRule keepLinesDatedAfter(int cutoffDay);

// The size purge's rule: the newest whole lines, at most `keepBytes` of them, but always the last.
LineRewriter::KeepRule keepNewestBytes(qint64 keepBytes);
