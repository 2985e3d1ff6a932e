// Measures how far a follower of a growing file (tfs-cat) lags behind the
// writer: reads standard input to its end into OUT while it looks at FILE's
// size every 5 ms, then prints
//   first_byte_s=F median_lag_s=M max_lag_s=X bytes=N
// F counts from this program's start (start it with the follower). The
// input is taken to end where FILE ends (a follower that started past the
// beginning delivers the file's last bytes). The lag of a byte is the time
// from the look that first saw FILE hold it to the read that brought it;
// bytes FILE held already at the start are left out.
// Usage: lagmeter FILE OUT
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

double Now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

long long SizeOf(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? (long long)st.st_size : -1;
}

struct Point {
    double t;
    long long bytes;  // file size, or input received so far
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: lagmeter FILE OUT\n");
        return 2;
    }
    const double t0 = Now();
    FILE* out = fopen(argv[2], "wb");
    if (!out)
        return perror(argv[2]), 1;
    std::vector<Point> sizes, received;
    std::vector<char> buf(1 << 20);
    long long total = 0;
    for (;;) {
        const long long size = SizeOf(argv[1]);
        if (size >= 0 && (sizes.empty() || size != sizes.back().bytes))
            sizes.push_back({Now(), size});
        struct pollfd p = {0, POLLIN, 0};
        if (poll(&p, 1, 5) <= 0)
            continue;
        const ssize_t n = read(0, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += n;
        received.push_back({Now(), total});
        fwrite(buf.data(), 1, (size_t)n, out);
    }
    fclose(out);
    if (received.empty() || sizes.empty()) {
        printf("first_byte_s=none median_lag_s=none max_lag_s=none bytes=0\n");
        return 0;
    }
    const long long offset = std::max(0LL, SizeOf(argv[1]) - total);  // file offset of the first byte read
    const long long start = sizes.front().bytes;
    // Every 4 KiB of what was read, weighted alike.
    std::vector<double> lags;
    long long prev = 0;
    for (const Point& r : received) {
        for (long long x = prev; x < r.bytes; x += 4096) {
            const long long at = offset + x;
            if (at < start)
                continue;
            const auto seen = std::upper_bound(sizes.begin(), sizes.end(), at,
                                               [](long long v, const Point& s) { return v < s.bytes; });
            if (seen != sizes.end())
                lags.push_back(r.t - seen->t);
        }
        prev = r.bytes;
    }
    std::sort(lags.begin(), lags.end());
    printf("first_byte_s=%.2f", received.front().t - t0);
    if (lags.empty())
        printf(" median_lag_s=none max_lag_s=none");
    else
        printf(" median_lag_s=%.2f max_lag_s=%.2f", lags[lags.size() / 2], lags.back());
    printf(" bytes=%lld\n", total);
    return 0;
}
