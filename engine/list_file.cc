// The list file: download it, then read it record by record into the down
// and reg lists, resolving each target path.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "engine/list_limits.h"
#include "engine/list_signature.h"
#include "engine/list_validator.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/system_error.h"
#include "util/crypto.h"

namespace {

// A downloaded list waits under this suffix until it has been read and,
// with a key, trusted; only then does it replace the installed copy.
constexpr char kStagedListSuffix[] = ".tidewell-new";

constexpr char kWhiteSpace[] = " \t\r\n\v\f";

std::string Trim(const std::string& strText) {
    size_t nBegin = strText.find_first_not_of(kWhiteSpace);
    if (nBegin == std::string::npos)
        return std::string();
    size_t nEnd = strText.find_last_not_of(kWhiteSpace);
    return strText.substr(nBegin, nEnd - nBegin + 1);
}

bool EqualsNoCase(std::string_view strA, std::string_view strB) {
    return std::equal(strA.begin(), strA.end(), strB.begin(), strB.end(), [](char a, char b) {
        return tolower(static_cast<unsigned char>(a)) == tolower(static_cast<unsigned char>(b));
    });
}

bool EndsWithNoCase(std::string_view strText, std::string_view strEnd) {
    return strText.size() >= strEnd.size() &&
           EqualsNoCase(strText.substr(strText.size() - strEnd.size()), strEnd);
}

// Stores field nField of a record.
void SetListField(FileItem& item, int nField, std::string_view strText) {
    switch (nField) {
        case 0:
            item.m_strSourceFile.assign(strText);
            break;
        case 1:
            item.m_strTargetRel.assign(strText);
            break;
        case 2:
            if (strText.substr(0, 3) == "SYS")
                item.m_nSysFlag = 1;
            break;
        case 3:
            CSyncEngine::ParseFileTypeField(item, std::string(strText));
            break;
        case 4:
            // Dashes, blanks and colons may dress the time; only digits count.
            item.m_strModifyTime.clear();
            for (char c : strText) {
                if (c >= '0' && c <= '9')
                    item.m_strModifyTime += c;
            }
            break;
        case 5:
            item.m_strFileSize.assign(strText);
            break;
        case 6:
            // Checked by the reader: a malformed hash is absent, or with a key a refusal.
            item.m_strSha256.assign(strText);
            break;
        case 7:
            item.m_bListedGzip = strText == "gzip" ? 1 : 0;
            break;
        default:
            break;
    }
}

// Splits the option list of the type field at "/" outside double quotes.
// Quotes and backslashes stay in the tokens; empty tokens are dropped.
std::vector<std::string> SplitOptions(const std::string& strOptions) {
    std::vector<std::string> vecTokens;
    std::string strToken;
    bool bQuoted = false;
    for (size_t i = 0; i < strOptions.size(); ++i) {
        char c = strOptions[i];
        if (bQuoted && c == '\\') {
            strToken += c;
            if (i + 1 < strOptions.size())
                strToken += strOptions[++i];
            continue;
        }
        if (c == '"') {
            bQuoted = !bQuoted;
        } else if (c == '/' && !bQuoted) {
            if (!strToken.empty())
                vecTokens.push_back(std::move(strToken));
            strToken.clear();
            continue;
        }
        strToken += c;
    }
    if (!strToken.empty())
        vecTokens.push_back(std::move(strToken));
    return vecTokens;
}

// Windows lists end their lines with CR LF; a lone CR is content. In place,
// so a large list is not held twice.
void DropCrBeforeLf(std::string* pstrText) {
    std::string& str = *pstrText;
    size_t nOut = 0;
    for (size_t i = 0; i < str.size(); ++i) {
        if (str[i] == '\r' && i + 1 < str.size() && str[i + 1] == '\n')
            continue;
        str[nOut++] = str[i];
    }
    str.resize(nOut);
}

// Reads the whole file; false with the system error when it cannot be read.
// A file over the limit is refused by its size before anything is read.
bool ReadListFile(FILE* fp, std::string* pstrData, bool* pbTooLarge) {
    char buf[65536];
    *pbTooLarge = false;
    struct stat st {};
    if (fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode)) {
        if (static_cast<uint64_t>(st.st_size) > kMaxListFileBytes) {
            *pbTooLarge = true;
            return false;
        }
        pstrData->reserve(static_cast<size_t>(st.st_size));
    }
    for (;;) {
        size_t nRead = fread(buf, 1, sizeof(buf), fp);
        pstrData->append(buf, nRead);
        if (pstrData->size() > kMaxListFileBytes) {
            *pbTooLarge = true;
            return false;
        }
        if (nRead < sizeof(buf))
            return ferror(fp) == 0;
    }
}

}  // namespace

bool CSyncEngine::ParseListLine(FileItem& item, const char* pLine, size_t nLength) {
    std::string_view strLine(pLine, nLength);
    int nField = 0;
    size_t nStart = 0;
    bool bQuoted = false;
    bool bQuotedPath = false;  // a quoted field 0 or 1: quotes are not part of it
    auto setField = [&](size_t nFrom, size_t nTo) {
        if (nTo - nFrom > kMaxListFieldBytes)
            return false;
        SetListField(item, nField, strLine.substr(nFrom, nTo - nFrom));
        return true;
    };
    for (size_t i = 0; i < nLength; ++i) {
        char c = strLine[i];
        if (bQuoted) {
            if (c == '\\') {
                ++i;  // protects the next byte; both stay in the text
            } else if (c == '"') {
                bQuoted = false;
                if (bQuotedPath) {
                    if (!setField(nStart, i))
                        return false;
                    ++nField;
                    // The byte after the closing quote, normally the comma, is skipped.
                    nStart = i + 2;
                    ++i;
                }
            }
        } else if (c == ',') {
            if (i > nStart) {
                if (!setField(nStart, i))
                    return false;
            }
            ++nField;
            nStart = i + 1;
        } else if (c == '"') {
            bQuoted = true;
            bQuotedPath = nField <= 1;
            if (bQuotedPath)
                nStart = i + 1;
        }
    }
    if (nStart < nLength && !setField(nStart, nLength))
        return false;

    if (item.m_strTargetRel.empty())
        item.m_strTargetRel = item.m_strSourceFile;
    for (char& c : item.m_strTargetRel) {
        if (c == '/' || c == '\\')
            c = platform::kPathSep;
    }
    item.m_strTargetFile = item.m_strTargetRel;
    return true;
}

void CSyncEngine::ParseFileTypeField(FileItem& item, const std::string& strField) {
    std::string strText = Trim(strField);
    if (strText.empty())
        return;

    std::string strToken = strText;
    size_t nBar = strText.find('|');
    if (strText.size() >= 4 && nBar != std::string::npos && nBar >= 3) {
        strToken = strText.substr(0, nBar);
        for (const std::string& strOption : SplitOptions(strText.substr(nBar + 1))) {
            if (strOption == "p=1" || strOption == "PASS") {
                item.m_bPassOnFail = 1;
            } else if (strOption == "w=1") {
                item.m_bWaitClose = 1;
            } else if (strOption.compare(0, 2, "a=") == 0) {
                std::string strRest = strOption.substr(2);
                if (strRest.size() >= 2 && strRest.front() == '"' && strRest.back() == '"') {
                    item.m_strArguments = strRest.substr(1, strRest.size() - 2);
                }
            }
        }
    }

    strToken = Trim(strToken);
    if (strToken.size() != 3)
        return;
    for (char& c : strToken)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    static const struct {
        const char* pszToken;
        int nType;
    } kTypes[] = {
        {"REG", kFileTypeReg},     {"CMD", kFileTypeExe},  {"EXE", kFileTypeExe},
        {"DEL", kFileTypeDel},     {"FNT", kFileTypeFont}, {"FON", kFileTypeFont},
        {"REF", kFileTypeRegFile}, {"ZIP", kFileTypeZip},  {"ASM", kFileTypeAsm},
        {"ZRG", kFileTypeZipReg},
    };
    for (const auto& entry : kTypes) {
        if (strToken == entry.pszToken) {
            item.m_nFileType = entry.nType;
            return;
        }
    }
}

int CSyncEngine::IsAllowedResourceFile(const std::string& strSourcePath) {
    if (strSourcePath.empty())
        return 0;
    if (strSourcePath.size() <= 4)
        return 1;
    if (EndsWithNoCase(strSourcePath, ".exe") || EndsWithNoCase(strSourcePath, ".bat") ||
        EndsWithNoCase(strSourcePath, ".cmd")) {
        return 0;
    }
    // Where programs carry no ".exe", the three fixed program names are
    // what that rule keeps out.
    {
        size_t nSlash = strSourcePath.find_last_of("/\\");
        std::string strName =
            nSlash == std::string::npos ? strSourcePath : strSourcePath.substr(nSlash + 1);
        for (const char* pszProgram : {"TidewellKiro", "TidewellKiroRun1", "Corvid@LoomhallKiro"}) {
            if (strName == std::string(pszProgram) + platform::kExeSuffix)
                return 0;
        }
    }
    if (EndsWithNoCase(strSourcePath, ".mdb")) {
        // Databases of the tool's own settings stay as the user has them.
        std::string strPath = strSourcePath;
        for (char& c : strPath) {
            if (c == '\\')
                c = '/';
        }
        size_t nSep = strPath.find('/');
        if (nSep != std::string::npos && nSep >= 1) {
            std::string_view strDir = std::string_view(strPath).substr(0, nSep);
            if (EqualsNoCase(strDir, "config") || EqualsNoCase(strDir, "CustomData")) {
                return 0;
            }
        }
        return 1;
    }
    // The development tool's own files with a three-letter extension.
    static constexpr std::string_view kToolName = "Corvid@Loomhall.";
    size_t nLen = strSourcePath.size();
    if (nLen >= kToolName.size() + 3 &&
        std::string_view(strSourcePath).substr(nLen - 3 - kToolName.size(), kToolName.size()) ==
            kToolName) {
        return 0;
    }
    return 1;
}

int CSyncEngine::GetFileListFileFromFile(FileItemList& downList, FileItemList& regList) {
    if (m_pCfg == nullptr)
        return -1;
    return GetFileListFileFromFile(ListFilePath(), downList, regList);
}

bool CSyncEngine::IsListTrusted(const std::string& strData, uint64_t* pnVersion) {
    std::string strKey;
    if (!DecodeEd25519PublicKey(m_pCfg->m_strListPublicKey, &strKey)) {
        TideLog(4,
                "CSyncEngine::GetFileListFileFromFile> List file refused: LIST_PUBLIC_KEY is "
                "not base64 of a 32-byte key");
        return false;
    }
    int64_t nNow = platform::SystemClock().NowUnixMs() / 1000;
    uint64_t nMinVersion = std::max(m_pCfg->m_nListVersion, m_pCfg->ReadListVersion());
    ListTrustResult result = CheckListTrust(strData, strKey, nMinVersion, nNow);
    if (result.eVerdict != EListTrust::kAccepted) {
        TideLog(4, "CSyncEngine::GetFileListFileFromFile> List file refused: %s",
                result.strReason.c_str());
        return false;
    }
    *pnVersion = result.header.nVersion;
    TideLog(1, "CSyncEngine::GetFileListFileFromFile> List file signature verified, version %llu",
            static_cast<unsigned long long>(result.header.nVersion));
    return true;
}

int CSyncEngine::GetFileListFileFromFile(const std::string& strPath, FileItemList& downList,
                                         FileItemList& regList) {
    if (m_pCfg == nullptr)
        return -1;
    std::string strBaseDir = m_pCfg->m_strLocalBaseDir;
    if (strBaseDir.empty() || strBaseDir.back() != platform::kPathSep) {
        strBaseDir += platform::kPathSep;
    }

    FILE* fp = fopen(strPath.c_str(), "rb");
    if (fp == nullptr) {
        TideLog(1, "CSyncEngine::GetFileListFileFromFile> fopen(%s) Fail, ErrNo = %d",
                strPath.c_str(), errno);
        return -1;
    }
    if (m_pDlg != nullptr)
        m_pDlg->SetStatusText("다운로드 리스트 확인 중...");

    std::string strData;
    bool bTooLarge = false;
    bool bRead = ReadListFile(fp, &strData, &bTooLarge);
    int nReadError = errno;
    fclose(fp);
    if (!bRead) {
        if (bTooLarge) {
            TideLog(4, "CSyncEngine::GetFileListFileFromFile> %s is larger than %llu bytes",
                    strPath.c_str(), static_cast<unsigned long long>(kMaxListFileBytes));
        } else {
            TideLog(4, "CSyncEngine::GetFileListFileFromFile> fread(%s) Fail, ErrNo = %d",
                    strPath.c_str(), nReadError);
        }
        return -1;
    }
    // With a key the bytes as published are checked before anything is read.
    bool bKey = !m_pCfg->m_strListPublicKey.empty();
    uint64_t nVersion = 0;
    m_nAcceptedListVersion = 0;
    if (bKey && !IsListTrusted(strData, &nVersion))
        return kListRefused;

    // Lists written on Windows are in code page 949; names work as UTF-8 here.
    if (!platform::IsValidUtf8(strData)) {
        std::string strUtf8;
        if (platform::Cp949ToUtf8(strData, &strUtf8)) {
            TideLog(2, "CSyncEngine::GetFileListFileFromFile> %s is not UTF-8, read as CP949",
                    strPath.c_str());
            strData = std::move(strUtf8);
        } else {
            TideLog(3,
                    "CSyncEngine::GetFileListFileFromFile> %s is neither UTF-8 nor CP949, "
                    "read as it is",
                    strPath.c_str());
        }
    }
    DropCrBeforeLf(&strData);

    CTideApp* pApp = GetTideApp();
    bool bResourceMode = pApp != nullptr && pApp->m_bResourceMode == 1;
    size_t nRecords = 0;
    int nLineNo = 1;
    size_t nPos = 0;
    while (nPos < strData.size()) {
        // One piece as a line reader with a 1023-byte buffer gives it: up to
        // and including the line feed, at most kMaxListPieceBytes bytes.
        size_t nLen = std::min(kMaxListPieceBytes, strData.size() - nPos);
        size_t nLf = strData.find('\n', nPos);
        if (nLf != std::string::npos && nLf - nPos < nLen)
            nLen = nLf - nPos + 1;
        const char* pPiece = strData.data() + nPos;
        nPos += nLen;
        int nPieceLineNo = nLineNo;
        bool bEndsLine = pPiece[nLen - 1] == '\n';
        if (bEndsLine)
            ++nLineNo;
        // A NUL ends the text of a piece, as it ends a C string.
        nLen = strnlen(pPiece, nLen);
        if (nLen > 0 && pPiece[nLen - 1] == '\n')
            --nLen;
        if (nLen == 0 || pPiece[0] == '#' || pPiece[0] == '!')
            continue;

        auto pItem = std::make_unique<FileItem>();
        if (!ParseListLine(*pItem, pPiece, nLen)) {
            TideLog(4,
                    "CSyncEngine::GetFileListFileFromFile> Line %d: a field of %zu bytes or more, "
                    "record skipped (%.*s)",
                    nPieceLineNo, kMaxListFieldBytes + 1, static_cast<int>(nLen), pPiece);
            continue;
        }
        if (pItem->m_strSourceFile.empty())
            continue;
        if (!pItem->m_strSha256.empty() && !IsSha256Hex(pItem->m_strSha256)) {
            if (bKey) {
                TideLog(4,
                        "CSyncEngine::GetFileListFileFromFile> List file refused: malformed hash "
                        "field on line %d",
                        nPieceLineNo);
                return kListRefused;
            }
            pItem->m_strSha256.clear();
        }

        if (bResourceMode) {
            bool bAccept = true;
            if (!pApp->m_mapAllowFileType.empty()) {
                size_t nDot = pItem->m_strSourceFile.rfind('.');
                bAccept = nDot != std::string::npos && nDot >= 1 &&
                          pApp->IsAllowFileType(pItem->m_strSourceFile.substr(nDot + 1)) == 1;
            } else {
                bAccept = pItem->m_nSysFlag != 1 && (pItem->m_nFileType == kFileTypeNormal ||
                                                     pItem->m_nFileType == kFileTypeZip);
            }
            if (!bAccept || IsAllowedResourceFile(pItem->m_strSourceFile) == 0)
                continue;
        }

        if (++nRecords > kMaxListRecords) {
            TideLog(4, "CSyncEngine::GetFileListFileFromFile> %s holds more than %zu records",
                    strPath.c_str(), kMaxListRecords);
            return -1;
        }
        AdjustTargetFilePath(*pItem, strBaseDir);

        if (pItem->m_nFileType == kFileTypeReg) {
            auto pReg = std::make_unique<FileItem>();
            pReg->m_bDownloaded = 1;
            pReg->m_nSysFlag = pItem->m_nSysFlag;
            pReg->m_nFileType = pItem->m_nFileType;
            pReg->m_strFileSize = pItem->m_strFileSize;
            pReg->m_strModifyTime = pItem->m_strModifyTime;
            pReg->m_strSourceFile = pItem->m_strSourceFile;
            pReg->m_strTargetFile = pItem->m_strTargetFile;
            TideLog(1, "CSyncEngine::GetFileListFileFromFile> Add Reg File List : %s",
                    pReg->m_strTargetFile.c_str());
            regList.push_back(std::move(pReg));
        }
        downList.push_back(std::move(pItem));
    }
    m_nAcceptedListVersion = nVersion;
    return 0;
}

int CSyncEngine::DownloadAndMergeListFile() {
    TideLog(1, "CSyncEngine::DownloadAndMergeListFile> Start Download List File....");
    ClearAllFileItemLists();
    if (m_pDlg != nullptr)
        m_pDlg->SetStatusText("서버로부터 리스트 파일 다운로드 중...");

    CTideApp* pApp = GetTideApp();
    if (pApp == nullptr || m_pCfg == nullptr)
        return -1;
    // The list is fetched beside the installed copy and replaces it only once read
    // (and, with a key, trusted): a refused list leaves the accepted one in place.
    std::string strInstalled = g_ListFileItem.m_strTargetFile;
    std::string strStaged = strInstalled + kStagedListSuffix;
    g_ListFileItem.m_strTargetFile = strStaged;
    // Asked for only if changed since the installed copy was fetched, and
    // gzip-encoded where the server has it so.
    ListGetExchange exchange = PrepareListGet(strInstalled, kMaxListFileBytes);
    int nErrCode = 0;
    std::string strErrText;
    int nRet = DownloadOneFileFromServer(g_ListFileItem, pApp->m_bIgnoreCertError, &nErrCode,
                                         &strErrText, 0, 0, &exchange);
    // The question is asked only in the mode that wants it, for a certificate error.
    if (nRet < 0 && AskCertificateQuestion(nErrCode, strErrText)) {
        TideLog(2,
                "CSyncEngine::DownloadAndMergeListFileFromServer> Retry "
                "DownloadOneFileFromServer()");
        pApp->m_bIgnoreCertError = 1;
        nErrCode = 0;
        strErrText.clear();
        nRet =
            DownloadOneFileFromServer(g_ListFileItem, 1, &nErrCode, &strErrText, 0, 0, &exchange);
    }
    g_ListFileItem.m_strTargetFile = strInstalled;
    if (nRet < 0) {
        TideLog(1,
                "CSyncEngine::DownloadAndMergeListFileFromServer> Fail To Get List File, "
                "RetVal = %d",
                nRet);
        return -1;
    }

    // Unchanged on the server: the installed copy is what the GET would give.
    bool bUnchanged = nRet == kNotModified;
    if (m_pDlg != nullptr)
        m_pDlg->SetStatusText("리스트 파일 내용 정리중...");
    nRet = GetFileListFileFromFile(bUnchanged ? strInstalled : strStaged, m_DownFileItemList,
                                   m_RegFileItemList);
    if (nRet == 0 && !bUnchanged) {
        if (!platform::MoveFileReplace(strStaged, strInstalled)) {
            TideLog(
                4, "CSyncEngine::DownloadAndMergeListFileFromServer> MoveFile(%s) Fail, ErrNo = %d",
                strInstalled.c_str(), platform::GetLastSystemError());
            nRet = -1;
        } else {
            SaveListValidator(strInstalled, exchange);
        }
    }
    if (nRet < 0) {
        platform::DeleteFile(strStaged);
        if (nRet == kListRefused)
            ClearAllFileItemLists();  // nothing of an untrusted list is kept
        TideLog(1,
                "CSyncEngine::DownloadAndMergeListFileFromServer> Fail To Get Master File "
                "List, RetVal = %d",
                nRet);
        // A refused list ends the run as one that could not be had.
        return nRet == kListRefused ? -1 : -2;
    }
    return 0;
}

void CSyncEngine::CommitListVersion() {
    if (m_pCfg == nullptr || m_pCfg->m_strListPublicKey.empty() ||
        m_nAcceptedListVersion <= m_pCfg->m_nListVersion) {
        return;
    }
    TideLog(1, "CSyncEngine::CommitListVersion> LIST_VERSION = %llu",
            static_cast<unsigned long long>(m_nAcceptedListVersion));
    if (!m_pCfg->SaveListVersion(m_nAcceptedListVersion)) {
        TideLog(4, "CSyncEngine::CommitListVersion> Writing LIST_VERSION to %s failed, ErrNo = %d",
                m_pCfg->m_strIniPath.c_str(), platform::GetLastSystemError());
    }
}
