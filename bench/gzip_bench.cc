// Decodes a gzip file into another file with CGzipDecoder, the way a
// download is decoded, and prints the time and the process's peak memory.
// Usage: gzip_bench <input.gz> <output>
#include <chrono>
#include <cstdio>
#include <memory>

#include "engine/gzip_decoder.h"

namespace {

constexpr size_t kReadSize = 256 * 1024;

// The high-water mark of this program's own memory. getrusage's ru_maxrss
// would also count what the parent used before exec.
long PeakRssKiB() {
    std::FILE* fp = std::fopen("/proc/self/status", "r");
    if (fp == nullptr)
        return -1;
    char szLine[256];
    long nKiB = -1;
    while (std::fgets(szLine, sizeof(szLine), fp) != nullptr) {
        if (std::sscanf(szLine, "VmHWM: %ld kB", &nKiB) == 1)
            break;
    }
    std::fclose(fp);
    return nKiB;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <input.gz> <output>\n", argv[0]);
        return 2;
    }
    std::FILE* fpIn = std::fopen(argv[1], "rb");
    std::FILE* fpOut = std::fopen(argv[2], "wb");
    if (fpIn == nullptr || fpOut == nullptr) {
        std::perror("fopen");
        return 1;
    }
    auto tStart = std::chrono::steady_clock::now();
    CGzipDecoder decoder(
        [fpOut](const char* p, size_t n) { return std::fwrite(p, 1, n, fpOut) == n; });
    std::unique_ptr<char[]> pBuf(new char[kReadSize]);
    size_t nRead = 0;
    while ((nRead = std::fread(pBuf.get(), 1, kReadSize, fpIn)) > 0) {
        if (!decoder.Feed(pBuf.get(), nRead))
            break;
    }
    int nResult = std::ferror(fpIn) ? kGzipRunning : decoder.Finish();
    bool bClosed = std::fclose(fpOut) == 0;
    std::fclose(fpIn);
    double dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    std::printf("result=%s decoded=%llu seconds=%.3f peak_rss_kib=%ld\n",
                bClosed ? GzipResultText(nResult) : "close failed",
                static_cast<unsigned long long>(decoder.GetDecodedSize()), dSeconds, PeakRssKiB());
    return nResult == kGzipOk && bClosed ? 0 : 1;
}
