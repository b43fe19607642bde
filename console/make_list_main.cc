// TidewellMakeList: writes the list file of a release folder for the
// updater's server, optionally signed, and makes signing keys. Usage text
// below; the manual page is made from it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/version.h"
#include "engine/list_limits.h"
#include "engine/list_signature.h"
#include "engine/list_writer.h"
#include "engine/release_check.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "util/crypto.h"

namespace {

const char* const kProgramName = "TidewellMakeList";
// A private key file is a few hundred bytes; anything far larger is not one.
constexpr size_t kMaxKeyFileBytes = 64 * 1024;
constexpr uint64_t kMaxExpiryDays = 36500;
constexpr int64_t kSecondsPerDay = 86400;
constexpr uint64_t kMaxTimeSpanSeconds = 86400;

const char* const kUsage =
    "Usage: TidewellMakeList [OPTION]... RELEASE_DIR\n"
    "  or:  TidewellMakeList --verify URL [--deep] [--time-span SECONDS] [--key FILE]\n"
    "  or:  TidewellMakeList --new-key FILE\n"
    "Write the list file of a release folder for the updater's server: one line\n"
    "per file with its type, GMT time, size and SHA-256, so that clients need no\n"
    "extra request per file and can check every byte. With --key the list is\n"
    "signed, and clients that hold the public key take no other.\n"
    "\n"
    "Links are followed: a link to a file is listed as that file, a link to a\n"
    "folder is walked as a folder, each real folder once. Links that lead nowhere\n"
    "or back into their own folder, fifos, sockets and devices are left out with\n"
    "a warning.\n"
    "\n"
    "Options:\n"
    "  -o FILE            write the list here (default RELEASE_DIR/_listfile.txt)\n"
    "  -n NAME            list file name to skip in the folder (default _listfile.txt)\n"
    "  --type GLOB=FIELD  type field for matching files, e.g. '*.dll=REG' or\n"
    "                     'bin/setup=EXE|w=1' (first match wins; defaults: *.reg REF,\n"
    "                     *.zip ZIP, *.ttf/*.ttc/*.otf/*.fon FNT)\n"
    "  --exclude GLOB     leave matching files and folders out\n"
    "  --delete PATH      list PATH for deletion on the clients\n"
    "  --gzip-static      FILE.gz is the gzip-encoded form of FILE that the server\n"
    "                     sends (nginx gzip_static always); it is listed as FILE\n"
    "  --no-hash          leave out the SHA-256 (clients then check sizes only)\n"
    "  --skip-unlistable  leave out, with a warning, files whose names clients\n"
    "                     cannot read back or request: a double quote, a backslash\n"
    "                     or a line break in the name, a name that is not UTF-8, a\n"
    "                     path too long for a list field; without it such a file\n"
    "                     fails the list\n"
    "  --strict           write no list when there is any warning\n"
    "  --key FILE         sign the list with the Ed25519 private key in FILE (PEM)\n"
    "  --list-version N   version of a signed list; it must grow from one release\n"
    "                     to the next (default: the time in seconds since 1970)\n"
    "  --expires DAYS     a signed list expires DAYS days from now\n"
    "  --new-key FILE     write a new private key to FILE (mode 0600) and its public\n"
    "                     key, for LIST_PUBLIC_KEY, to FILE.pub; never overwrites\n"
    "  -h, --help         show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Checking what the server serves:\n"
    "  --verify URL       fetch the list at URL (as given to TidewellKiro --server)\n"
    "                     the way clients do, and check that the server answers a\n"
    "                     HEAD for every file with status 200, the listed size and\n"
    "                     time, and gzip encoding where the list expects it; prints\n"
    "                     one line per mismatch and a summary\n"
    "  --deep             also download every file and compare its size and SHA-256\n"
    "  --time-span SECONDS  how far a server time may be from the list's (default 5,\n"
    "                     the clients' TIME_CHECK_SPAN)\n"
    "  --key FILE         the public key (FILE.pub of --new-key, or its text): the\n"
    "                     list must be signed with its private key\n"
    "Proxies (http_proxy, https_proxy, no_proxy) and TIDEWELL_CA_BUNDLE apply as\n"
    "for the updater.\n"
    "\n"
    "Exit status:\n"
    "  0  the list (or the key) was written; --verify: the server serves the list\n"
    "     exactly\n"
    "  1  the folder or the key could not be read, a file cannot be listed, a\n"
    "     warning under --strict, or a file not written; --verify: a mismatch, or\n"
    "     the list could not be fetched or trusted\n"
    "  2  bad command line\n";

// A one-line reason and the usage hint; the exit status of a bad command line.
int CommandLineError(const std::string& strError) {
    fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgramName,
            strError.c_str(), kProgramName);
    return 2;
}

// A failure to read or write; the exit status for it.
int FileError(const std::string& strError) {
    fprintf(stderr, "%s: %s\n", kProgramName, strError.c_str());
    return 1;
}

// The list is written beside its place and moved there only when whole;
// anything else removes it.
class COutputFile {
public:
    explicit COutputFile(const std::string& strPath)
        : m_strPath(strPath), m_strTemp(strPath + ".tmp") {}
    ~COutputFile() {
        if (m_fp != nullptr)
            fclose(m_fp);
        if (!m_bCommitted)
            platform::DeleteFile(m_strTemp);
    }
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    bool Open(platform::FileStatus* pStatus) {
        m_fp = fopen(m_strTemp.c_str(), "w+b");
        return m_fp != nullptr && platform::GetFileStatus(m_strTemp, pStatus);
    }
    bool Write(std::string_view strText) {
        m_nBytes += strText.size();
        return fwrite(strText.data(), 1, strText.size(), m_fp) == strText.size();
    }
    uint64_t Bytes() const { return m_nBytes; }
    // Everything written so far, read back.
    bool ReadBack(std::string* pstrText) {
        pstrText->resize(m_nBytes);
        return fflush(m_fp) == 0 && fseek(m_fp, 0, SEEK_SET) == 0 &&
               fread(pstrText->data(), 1, m_nBytes, m_fp) == m_nBytes &&
               fseek(m_fp, 0, SEEK_END) == 0;
    }
    bool Commit() {
        bool bClosed = fclose(m_fp) == 0;
        m_fp = nullptr;
        m_bCommitted = bClosed && platform::MoveFileReplace(m_strTemp, m_strPath);
        return m_bCommitted;
    }

private:
    std::string m_strPath;
    std::string m_strTemp;
    FILE* m_fp = nullptr;
    uint64_t m_nBytes = 0;
    bool m_bCommitted = false;
};

// Creates strPath with the given mode; fails when it exists already.
bool WriteNewFile(const std::string& strPath, const std::string& strText, mode_t nMode) {
    int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, nMode);
    if (fd < 0)
        return false;
    bool bOk = fchmod(fd, nMode) == 0 &&
               write(fd, strText.data(), strText.size()) == static_cast<ssize_t>(strText.size());
    bOk = close(fd) == 0 && bOk;
    if (!bOk)
        platform::DeleteFile(strPath);
    return bOk;
}

bool ReadKeyFile(const std::string& strPath, std::string* pstrText) {
    FILE* fp = fopen(strPath.c_str(), "rb");
    if (fp == nullptr)
        return false;
    char buf[4096];
    size_t nRead;
    while ((nRead = fread(buf, 1, sizeof(buf), fp)) > 0 && pstrText->size() <= kMaxKeyFileBytes)
        pstrText->append(buf, nRead);
    bool bOk = ferror(fp) == 0 && pstrText->size() <= kMaxKeyFileBytes;
    fclose(fp);
    return bOk;
}

bool ParseCount(const char* pszText, uint64_t* pnValue) {
    const char* pEnd = pszText + strlen(pszText);
    auto [pStop, ec] = std::from_chars(pszText, pEnd, *pnValue);
    return ec == std::errc() && pStop == pEnd && pStop != pszText;
}

int MakeNewKey(const std::string& strPath) {
    if (platform::FileExists(strPath) || platform::FileExists(strPath + ".pub"))
        return FileError(strPath + " or " + strPath + ".pub exists already; not overwritten");
    std::string strPem, strPublic;
    if (!GenerateEd25519Key(&strPem, &strPublic))
        return FileError("cannot make a key");
    std::string strPublicText = EncodeBase64(strPublic) + "\n";
    if (!WriteNewFile(strPath, strPem, 0600))
        return FileError("cannot write " + strPath);
    if (!WriteNewFile(strPath + ".pub", strPublicText, 0644)) {
        platform::DeleteFile(strPath);
        return FileError("cannot write " + strPath + ".pub");
    }
    printf("private key: %s\npublic key:  %s.pub\nLIST_PUBLIC_KEY=%s", strPath.c_str(),
           strPath.c_str(), strPublicText.c_str());
    return 0;
}

// Reads a public key given as a file (FILE.pub) or as its base64 text.
bool ReadPublicKey(const std::string& strArg, std::string* pstrKey) {
    std::string strText = strArg;
    if (platform::FileExists(strArg)) {
        strText.clear();
        if (!ReadKeyFile(strArg, &strText))
            return false;
    }
    size_t nEnd = strText.find_last_not_of(" \t\r\n");
    strText.resize(nEnd == std::string::npos ? 0 : nEnd + 1);
    std::string strRaw;
    if (!DecodeEd25519PublicKey(strText, &strRaw))
        return false;
    *pstrKey = strText;
    return true;
}

int VerifyRelease(ReleaseCheckOptions options) {
    options.onMismatch = [](const std::string& strLine) { printf("%s\n", strLine.c_str()); };
    ReleaseCheckResult result = CheckRelease(options);
    if (!result.bListRead)
        return FileError(result.strError);
    if (result.bStopped) {
        printf("the server stopped answering: %zu files checked, the rest not\n", result.nChecked);
    } else if (result.nMismatches == 0) {
        printf("%zu files checked: the server serves the list exactly\n", result.nChecked);
    } else {
        printf("%zu files checked: %zu not served as listed\n", result.nChecked,
               result.nMismatches);
    }
    return result.nMismatches == 0 && !result.bStopped ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    ListWriterOptions options;
    ReleaseCheckOptions check;
    std::string strOutput, strKeyFile, strNewKey;
    ListHeader header;
    bool bVersionGiven = false, bStrict = false, bWriteOption = false, bCheckOption = false;
    uint64_t nExpiryDays = 0;
    for (int i = 1; i < argc; ++i) {
        std::string strArg = argv[i];
        if (strArg == "-h" || strArg == "--help") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (strArg == "--version") {
            printf("%s %d.%d.%d.%d\n", kProgramName, TIDEWELL_VERSION_MAJOR, TIDEWELL_VERSION_MINOR,
                   TIDEWELL_VERSION_PATCH, TIDEWELL_VERSION_TWEAK);
            return 0;
        }
        bool bTakesValue = strArg == "-o" || strArg == "-n" || strArg == "--type" ||
                           strArg == "--exclude" || strArg == "--delete" || strArg == "--key" ||
                           strArg == "--list-version" || strArg == "--expires" ||
                           strArg == "--new-key" || strArg == "--verify" || strArg == "--time-span";
        if (bTakesValue && i + 1 >= argc)
            return CommandLineError("option '" + strArg + "' needs a value");
        bool bCheck = strArg == "--verify" || strArg == "--deep" || strArg == "--time-span";
        bCheckOption = bCheckOption || (bCheck && strArg != "--verify");
        bWriteOption = bWriteOption || (!bCheck && strArg != "--key" && strArg[0] == '-');
        if (strArg == "-o") {
            strOutput = argv[++i];
        } else if (strArg == "-n") {
            options.strListFileName = argv[++i];
        } else if (strArg == "--type") {
            std::string strRule = argv[++i];
            size_t nEq = strRule.find('=');
            if (nEq == std::string::npos || nEq == 0)
                return CommandLineError("--type wants GLOB=FIELD, got '" + strRule + "'");
            options.vecRules.push_back({strRule.substr(0, nEq), strRule.substr(nEq + 1)});
        } else if (strArg == "--exclude") {
            options.vecExcludes.push_back(argv[++i]);
        } else if (strArg == "--delete") {
            options.vecDeletes.push_back(argv[++i]);
        } else if (strArg == "--gzip-static") {
            options.bGzipStatic = true;
        } else if (strArg == "--no-hash") {
            options.bNoHash = true;
        } else if (strArg == "--skip-unlistable") {
            options.bSkipUnlistable = true;
        } else if (strArg == "--strict") {
            bStrict = true;
        } else if (strArg == "--key") {
            strKeyFile = argv[++i];
        } else if (strArg == "--list-version") {
            if (!ParseCount(argv[++i], &header.nVersion))
                return CommandLineError("--list-version wants a decimal number, got '" +
                                        std::string(argv[i]) + "'");
            bVersionGiven = true;
        } else if (strArg == "--expires") {
            if (!ParseCount(argv[++i], &nExpiryDays) || nExpiryDays == 0 ||
                nExpiryDays > kMaxExpiryDays) {
                return CommandLineError("--expires wants days from 1 to " +
                                        std::to_string(kMaxExpiryDays) + ", got '" +
                                        std::string(argv[i]) + "'");
            }
        } else if (strArg == "--new-key") {
            strNewKey = argv[++i];
        } else if (strArg == "--verify") {
            check.strListUrl = argv[++i];
        } else if (strArg == "--deep") {
            check.bDeep = true;
        } else if (strArg == "--time-span") {
            uint64_t nSpan = 0;
            if (!ParseCount(argv[++i], &nSpan) || nSpan > kMaxTimeSpanSeconds) {
                return CommandLineError("--time-span wants seconds from 0 to " +
                                        std::to_string(kMaxTimeSpanSeconds) + ", got '" +
                                        std::string(argv[i]) + "'");
            }
            check.nTimeSpanSeconds = static_cast<int>(nSpan);
        } else if (!strArg.empty() && strArg[0] == '-') {
            return CommandLineError("unknown option '" + strArg + "'");
        } else if (options.strReleaseDir.empty()) {
            options.strReleaseDir = strArg;
        } else {
            return CommandLineError("more than one release folder ('" + strArg + "')");
        }
    }
    if (!strNewKey.empty()) {
        if (argc != 3)
            return CommandLineError("--new-key FILE takes nothing else");
        return MakeNewKey(strNewKey);
    }
    if (!check.strListUrl.empty()) {
        if (bWriteOption || !options.strReleaseDir.empty())
            return CommandLineError("--verify takes only --deep, --time-span and --key");
        if (!strKeyFile.empty() && !ReadPublicKey(strKeyFile, &check.strPublicKey))
            return FileError("--key " + strKeyFile + " holds no public key (base64 of 32 bytes)");
        return VerifyRelease(check);
    }
    if (bCheckOption)
        return CommandLineError("--deep and --time-span belong to --verify");
    if (options.strReleaseDir.empty())
        return CommandLineError("no release folder given");
    if (strKeyFile.empty() && (bVersionGiven || nExpiryDays != 0))
        return CommandLineError("--list-version and --expires belong to a signed list (--key)");
    if (strOutput.empty())
        strOutput = platform::JoinPath(options.strReleaseDir, options.strListFileName);

    size_t nWarnings = 0;
    options.onWarning = [&nWarnings](const std::string& strText) {
        ++nWarnings;
        fprintf(stderr, "%s: warning: %s\n", kProgramName, strText.c_str());
    };
    std::string strPem;
    if (!strKeyFile.empty()) {
        if (!ReadKeyFile(strKeyFile, &strPem))
            return FileError("cannot read the key " + strKeyFile);
        int64_t nNow = platform::SystemClock().NowUnixMs() / 1000;
        if (!bVersionGiven)
            header.nVersion = static_cast<uint64_t>(nNow);
        if (nExpiryDays != 0)
            header.nExpires = nNow + static_cast<int64_t>(nExpiryDays) * kSecondsPerDay;
    }
    COutputFile output(strOutput);
    platform::FileStatus stOutput;
    if (!output.Open(&stOutput))
        return FileError("cannot write " + strOutput);
    options.vecSkipFiles.push_back({stOutput.nDevice, stOutput.nInode});
    bool bWritten = strPem.empty() || output.Write(FormatListHeader(header));
    std::string strError;
    auto sink = [&output, &bWritten](std::string_view strText) {
        bWritten = bWritten && output.Write(strText);
        return bWritten;
    };
    if (!BuildListFile(options, sink, &strError))
        return FileError(bWritten ? strError : "cannot write " + strOutput);
    if (bStrict && nWarnings > 0)
        return FileError(std::to_string(nWarnings) + " warning(s) under --strict: no list written");
    if (!strPem.empty()) {
        // The signature covers every byte: the list is read back once, at most
        // the clients' limit, to sign it.
        std::string strList;
        if (!output.ReadBack(&strList))
            return FileError("cannot read back " + strOutput);
        size_t nSigned = strList.size();
        if (!SignListText(&strList, strPem, &strError))
            return FileError(strKeyFile + ": " + strError);
        bWritten = output.Write(std::string_view(strList).substr(nSigned));
        if (output.Bytes() > kMaxListFileBytes)
            return FileError("the signed list is larger than clients read");
    }
    if (!bWritten || !output.Commit())
        return FileError("cannot write " + strOutput);
    return 0;
}
