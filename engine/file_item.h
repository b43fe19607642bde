// One record of the list file: one file to check, download and handle.
// Each list that holds a FileItem* says whether it owns it (CSyncEngine).
#pragma once

#include <string>

// File type codes, selected by the type field of a list record.
enum : int {
    kFileTypeNormal = 1,   // download only
    kFileTypeReg = 2,      // COM server to register
    kFileTypeExe = 3,      // program to run
    kFileTypeDel = 4,      // local file to delete; never downloaded
    kFileTypeFont = 5,     // font to install
    kFileTypeRegFile = 6,  // registry file to import
    kFileTypeZip = 7,      // archive to extract
    kFileTypeAsm = 8,      // .NET assembly to register
    kFileTypeZipReg = 9,   // archive to extract and register
};

// Why the check pass wants a file downloaded (reported by --plan).
enum : int {
    kReasonNone = 0,
    kReasonMissing = 1,     // no local file (or a system file not installed)
    kReasonSize = 2,        // the sizes differ
    kReasonTime = 3,        // the times differ, or the server's time is unknown
    kReasonUnreadable = 4,  // the local file's status cannot be read
    kReasonUnchecked = 5,   // not checked: no server information, or a refused target
};

struct FileItem {
    int m_bPassOnFail = 0;
    int m_bWaitClose = 0;
    int m_bSizeUnknown = 0;
    int m_nGzip = -1;  // -1 unknown, 0 plain, 1 gzip
    std::string m_strSourceFile;
    std::string m_strTargetFile;
    std::string m_strTargetRel;
    int m_nFileType = kFileTypeNormal;
    int m_nSysFlag = 2;  // 1: system file, installed only when missing
    std::string m_strArguments;
    std::string m_strModifyTime;  // 14 digits, GMT
    std::string m_strFileSize;    // decimal text
    std::string m_strSha256;      // 64 lowercase hex digits, or empty: not checked
    // Field 7 "gzip": the publisher serves the file gzip-encoded. The client
    // decodes whatever the server says; the publisher's check reads this.
    int m_bListedGzip = 0;
    int m_bDownloaded = 0;
    // The size came from a HEAD of a gzip-encoded response: it is the
    // encoded size, not the size of the file on disk.
    int m_bSizeEncoded = 0;
    // The target path climbs out of its folder: nothing is done with it.
    int m_bUnsafeTarget = 0;
    int m_nDownloadReason = kReasonNone;
};

// Describes the list file itself; lives for the whole process.
extern FileItem g_ListFileItem;
