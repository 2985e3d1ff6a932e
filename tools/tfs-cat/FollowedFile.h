// The file tfs-cat follows, as the program itself sees it: its own read-only
// descriptor (opened just before the filter opens the name, so both hold the
// same file) tells the file's identity and size, when it last grew, and an
// inotify watch on it tells whether its writer closed it.
#pragma once

#include <string>

namespace tfscat {

// Seconds on a steady clock.
double Now();

class CFollowedFile {
public:
    ~CFollowedFile() { Close(); }

    bool Open(const std::string& name);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Its size now, -1 when it cannot be told. Also the largest seen, and
    // when that grew.
    long long Size();
    // It held at least this much: a read through the pin delivered it.
    void Held(long long llSize) { Grew(llSize); }
    long long MaxSize() const { return m_llMaxSize; }
    // When it was last seen larger than ever before (Now()'s clock): at the
    // open, or at the look that found the growth.
    double LastGrowth() const { return m_tGrowth; }

    enum Name { kSameFile, kOtherFile, kNoFile };
    Name WhereNameLeads(const std::string& name) const;

    // Takes in what the watch reported; called after every read, so that
    // its queue stays short.
    void Drain();

    // Whether the end just reached was guessed: no close-after-write came
    // after the last change, which lies at least dIdle seconds back (less
    // dSlack, the difference of the writer probe's clock and this one's).
    // Without a watch only the age tells.
    bool EndGuessed(double dIdle, double dSlack, double* pdAge);

private:
    void Grew(long long llSize);

    int m_fd = -1;
    int m_inotify = -1;
    long long m_llMaxSize = 0;
    double m_tGrowth = 0;
    bool m_bCloseSeen = false;  // a close-after-write came after the last change seen
};

}  // namespace tfscat
