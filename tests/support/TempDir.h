// A temporary directory for a test, removed with everything in it.
#pragma once

#include <functional>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory, with a trailing separator.
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + name; }
    // Writes a finished file of the given bytes (dated back, see Backdate)
    // and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;

private:
    std::string m_path;
};

// Dates a file's last change an hour back, so that it reads as finished
// also to a writer probe that cannot inspect every process on the machine:
// that one takes a file changed within its idle time for being written.
void Backdate(const std::string& path);

// Copies a file; false when it could not.
bool CopyFileTo(const std::string& from, const std::string& to);
// The whole content of a file, or "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Asks for write access without FILE_SHARE_WRITE; returns the open's error
// code: ERROR_SHARING_VIOLATION while a writer holds the file (and while a
// reader that does not share writing does, which the filter's own probe,
// read access refusing writes, passes over), else 0.
unsigned long ProbeForWriter(const std::string& path);

// Asks `probe` every 10 ms until it answers `want` or `ms` have passed;
// returns its last answer.
unsigned long ProbeUntil(const std::function<unsigned long()>& probe, unsigned long want, unsigned ms);

}  // namespace testsupport
