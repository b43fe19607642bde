// Extracts every member of a zip archive into a folder the way the engine
// does (member folders made first, a read-only target cleared, then the
// member written) and prints the time and what was written.
// Usage: zip_bench <archive.zip> <output folder>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/file_system.h"
#include "util/file_util.h"
#include "zip/unzip.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <archive.zip> <output folder>\n", argv[0]);
        return 2;
    }
    std::string strFolder = argv[2];
    auto tStart = std::chrono::steady_clock::now();
    ZipHandle hZip = OpenZipFile(argv[1], 0, kZipKindFileName, strFolder.c_str());
    if (hZip == nullptr) {
        char szText[128];
        FormatZipResult(kZipLastResult, szText, sizeof(szText));
        std::fprintf(stderr, "open failed: %s\n", szText);
        return 1;
    }
    ZipEntry entry;
    GetZipItem(hZip, -1, &entry);
    int nCount = entry.index;
    unsigned long long nBytes = 0;
    for (int i = 0; i < nCount; ++i) {
        ZipResult nResult = GetZipItem(hZip, i, &entry);
        std::string strOut = strFolder + "/" + entry.name;
        unsigned dwError = 0;
        if (nResult == kZipOk && CFileUtil::CreateDirectories(strOut, &dwError) != 1)
            nResult = kZipNoFile;
        if (nResult == kZipOk) {
            CFileUtil::ClearReadOnly(strOut);
            platform::DeleteFile(strOut);
            nResult = UnzipItem(hZip, i, strOut.c_str(), 0, kZipKindFileName);
        }
        if (nResult != kZipOk) {
            char szText[128];
            FormatZipResult(nResult, szText, sizeof(szText));
            std::fprintf(stderr, "member %d (%s): %s\n", i, entry.name, szText);
            CloseZipFile(hZip);
            return 1;
        }
        nBytes += static_cast<unsigned long long>(entry.unc_size);
    }
    CloseZipFile(hZip);
    double dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    std::printf("members=%d bytes=%llu seconds=%.3f\n", nCount, nBytes, dSeconds);
    return 0;
}
