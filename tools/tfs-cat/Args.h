// tfs-cat's command line.
#pragma once

#include <string>

namespace tfscat {

// The pin refuses positions from 2^62 on.
const long long kMaxFrom = 0x3FFFFFFFFFFFFFFFLL;
// The pin's largest wait margin.
const long long kMaxMarginBytes = 10485760;
// The longest margin in time.
const double kMaxMarginSeconds = 600;

struct Options {
    std::string file;
    long long llFrom = 0;
    bool bLive = false;
    bool bFollowName = false;
    // The margin: in bytes when llMarginBytes >= 0, else in seconds.
    long long llMarginBytes = -1;
    double dMarginSeconds = 1;
    double dIdle = 10;
    bool bIdleGiven = false;  // --idle: no end before dIdle seconds without growth, whatever the filter says
    bool bStats = false;
    bool bHelp = false;
};

// Parses the arguments. Returns false with a one-line reason for bad ones.
bool ParseArgs(int argc, char** argv, Options* o, std::string* why);

extern const char kUsage[];
extern const char kHelp[];

}  // namespace tfscat
