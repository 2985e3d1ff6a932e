// The file tfs-cat follows (FollowedFile.h).
#include "FollowedFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace tfscat {

double Now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

bool CFollowedFile::Open(const std::string& name) {
    Close();
    // Non-blocking, so that a FIFO under the name cannot hold the open;
    // the filter refuses it.
    m_fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    m_llMaxSize = 0;
    m_tGrowth = Now();
    m_bCloseSeen = false;
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0) {
        // Through the descriptor's own link: the watch is on this file,
        // whatever the name leads to by now.
        char szLink[64];
        snprintf(szLink, sizeof(szLink), "/proc/self/fd/%d", m_fd);
        if (inotify_add_watch(m_inotify, szLink, IN_MODIFY | IN_CLOSE_WRITE) < 0) {
            close(m_inotify);
            m_inotify = -1;
        }
    }
    return true;
}

void CFollowedFile::Close() {
    if (m_inotify >= 0)
        close(m_inotify);
    if (m_fd >= 0)
        close(m_fd);
    m_inotify = m_fd = -1;
}

long long CFollowedFile::Size() {
    struct stat st;
    if (m_fd < 0 || fstat(m_fd, &st) != 0)
        return -1;
    Grew(st.st_size);
    return st.st_size;
}

void CFollowedFile::Grew(long long llSize) {
    if (llSize > m_llMaxSize) {
        m_llMaxSize = llSize;
        m_tGrowth = Now();
    }
}

CFollowedFile::Name CFollowedFile::WhereNameLeads(const std::string& name) const {
    struct stat mine, named;
    if (m_fd < 0 || fstat(m_fd, &mine) != 0)
        return kSameFile;
    if (stat(name.c_str(), &named) != 0)
        return errno == ENOENT || errno == ENOTDIR ? kNoFile : kSameFile;
    return mine.st_dev == named.st_dev && mine.st_ino == named.st_ino ? kSameFile : kOtherFile;
}

void CFollowedFile::Drain() {
    alignas(struct inotify_event) char buf[4096];
    ssize_t n;
    while (m_inotify >= 0 && (n = read(m_inotify, buf, sizeof(buf))) > 0) {
        for (ssize_t at = 0; at + (ssize_t)sizeof(struct inotify_event) <= n;) {
            struct inotify_event ev;
            memcpy(&ev, buf + at, sizeof(ev));
            at += (ssize_t)sizeof(ev) + ev.len;
            if (ev.mask & (IN_MODIFY | IN_Q_OVERFLOW))
                m_bCloseSeen = false;
            else if (ev.mask & IN_CLOSE_WRITE)
                m_bCloseSeen = true;
        }
    }
}

bool CFollowedFile::EndGuessed(double dIdle, double dSlack, double* pdAge) {
    Drain();
    struct stat st;
    struct timespec now;
    if (m_bCloseSeen || m_fd < 0 || fstat(m_fd, &st) != 0 || clock_gettime(CLOCK_REALTIME, &now) != 0)
        return false;
    *pdAge = (double)(now.tv_sec - st.st_mtim.tv_sec) + (now.tv_nsec - st.st_mtim.tv_nsec) / 1e9;
    return *pdAge >= dIdle - dSlack;
}

}  // namespace tfscat
