// tfs-cat's command line: options, their ranges, and the help text.
#include "Args.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace tfscat {

const char kUsage[] =
    "usage: tfs-cat [--live | --from BYTES] [--margin TIME|BYTES] [--idle SECONDS] [--follow-name]\n"
    "               [--stats] FILE\n";

const char kHelp[] =
    "NAME\n"
    "    tfs-cat - follow a growing recording into a player\n"
    "\n"
    "SYNOPSIS\n"
    "    tfs-cat [--live | --from BYTES] [--margin TIME|BYTES] [--idle SECONDS]\n"
    "            [--follow-name] [--stats] FILE\n"
    "\n"
    "DESCRIPTION\n"
    "    Writes FILE to standard output while a recorder may still be writing it,\n"
    "    and ends once the recorder has closed the file and its last byte is out:\n"
    "        tfs-cat recording.mpg | ffplay -\n"
    "    The file is read through the TallowFileSource filter: it waits for the\n"
    "    recording's first 768 KiB, and a read near the end waits until the file\n"
    "    holds a margin past it, so a player never reads up to the live edge.\n"
    "    It follows the file it opened: when the name comes to lead to another\n"
    "    file (a recorder that starts again under the same name), the file opened\n"
    "    is written out to its end and tfs-cat stops with a line saying so.\n"
    "\n"
    "OPTIONS\n"
    "    --margin TIME|BYTES\n"
    "                     how far the file must extend past a read before the\n"
    "                     read goes on: a time (2s, 1.5s, 500ms; default 1s),\n"
    "                     kept as that many seconds of the growth rate measured\n"
    "                     as the file grows, and never below the largest growth\n"
    "                     seen between two looks (recorders write in blocks), or\n"
    "                     a number of bytes; either way within 64 KiB and 10 MiB\n"
    "                     (a number of bytes may be smaller)\n"
    "    --live           start at the live edge: at the first MPEG-2 pack header\n"
    "                     at or after the file's size minus the margin\n"
    "    --from BYTES     start at this byte instead of the first; past the end of\n"
    "                     a growing file, wait until the file gets there\n"
    "    --idle SECONDS   the end is taken only once the file has not grown for\n"
    "                     this long, whatever the filter decides: a recorder that\n"
    "                     closes its file between chunks or stops for a while is\n"
    "                     followed on (counted from the start when the file never\n"
    "                     grew). Without it the filter decides: the recorder's\n"
    "                     close, or, when no writer can be seen (a recorder running\n"
    "                     as another user, a network file system), 10 s without\n"
    "                     growth. An end taken with no close seen is said in a line\n"
    "    --follow-name    when the name comes to lead to another file, go on with\n"
    "                     that file from its start (as tail -F does); when it leads\n"
    "                     to none, wait for one\n"
    "    --stats          once a second, print the file's size and growth rate, the\n"
    "                     read position and rate, the bytes a read waits for and\n"
    "                     the margin, to standard error\n"
    "    --help           this text\n"
    "\n"
    "EXIT STATUS\n"
    "    0  the file was written to its end, or the reader of the pipe went away\n"
    "    1  the file could not be opened or read, it was cut below what had been\n"
    "       written out, it ended before --from, or --live found no pack header\n"
    "    2  bad arguments\n"
    "    130, 143  ended by SIGINT or SIGTERM\n";

namespace {

// A whole number of bytes: digits only.
bool Bytes(const char* psz, long long llMax, long long* pll) {
    if (!*psz || strspn(psz, "0123456789") != strlen(psz))
        return false;
    errno = 0;
    const unsigned long long v = strtoull(psz, nullptr, 10);
    if (errno == ERANGE || v > (unsigned long long)llMax)
        return false;
    *pll = (long long)v;
    return true;
}

// A plain decimal number, no sign, no exponent.
bool Decimal(const char* psz, size_t n, double* pd) {
    const std::string s(psz, n);
    if (s.empty() || strspn(s.c_str(), "0123456789.") != s.size() || s.find('.') != s.rfind('.') || s == ".")
        return false;
    *pd = strtod(s.c_str(), nullptr);
    return true;
}

bool Seconds(const char* psz, double dMax, double* pd) {
    return Decimal(psz, strlen(psz), pd) && *pd <= dMax;
}

// "2s", "1.5s", "500ms".
bool Time(const char* psz, double* pd) {
    const size_t n = strlen(psz);
    double d = 0;
    if (n > 2 && strcmp(psz + n - 2, "ms") == 0 && Decimal(psz, n - 2, &d))
        d /= 1000;
    else if (!(n > 1 && psz[n - 1] == 's' && Decimal(psz, n - 1, &d)))
        return false;
    *pd = d;
    return true;
}

std::string Range(const char* pszOption, const char* pszValue, const char* pszRange) {
    return std::string(pszOption) + ": " + pszValue + " is out of range (" + pszRange + ")";
}

}  // namespace

bool ParseArgs(int argc, char** argv, Options* o, std::string* why) {
    bool bFrom = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            o->bHelp = true;
            return true;
        } else if (a == "--stats") {
            o->bStats = true;
        } else if (a == "--live") {
            o->bLive = true;
        } else if (a == "--follow-name") {
            o->bFollowName = true;
        } else if (a == "--margin" || a == "--from" || a == "--idle") {
            if (i + 1 >= argc)
                return *why = "no value for " + a, false;
            const char* v = argv[++i];
            if (a == "--from") {
                bFrom = true;
                if (!Bytes(v, kMaxFrom, &o->llFrom)) {
                    *why = strspn(v, "0123456789") == strlen(v) && *v
                               ? Range("--from", v, "0 to 4611686018427387903 bytes")
                               : "bad value for --from: " + std::string(v);
                    return false;
                }
            } else if (a == "--idle") {
                if (!Seconds(v, 86400, &o->dIdle))
                    return *why = "bad value for --idle: " + std::string(v) + " (0 to 86400 seconds)", false;
                o->bIdleGiven = true;
            } else if (Time(v, &o->dMarginSeconds)) {
                o->llMarginBytes = -1;
                if (o->dMarginSeconds > kMaxMarginSeconds)
                    return *why = Range("--margin", v, "0 to 600 seconds"), false;
            } else if (Bytes(v, kMaxMarginBytes, &o->llMarginBytes)) {
            } else {
                *why = strspn(v, "0123456789") == strlen(v) && *v
                           ? Range("--margin", v, "0 to 10485760 bytes")
                           : "bad value for --margin: " + std::string(v) + " (a time such as 2s, or bytes)";
                return false;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return *why = "unknown option " + a, false;
        } else if (o->file.empty()) {
            o->file = a;
        } else {
            return *why = "one file only", false;
        }
    }
    if (o->bLive && bFrom)
        return *why = "--live and --from exclude each other", false;
    if (o->file.empty())
        return *why = "no file", false;
    return true;
}

}  // namespace tfscat
