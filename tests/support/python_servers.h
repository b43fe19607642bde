// Python servers for tests, on 127.0.0.1, stopped with the object (and when
// the test process dies; each also ends by itself after five minutes).
//
// CPythonHttpServer: the standard library's http.server serving a folder with
// keep-alive: a second HTTP implementation besides nginx.
//
// CScriptedHttpServer: answers by the first segment of the request path and
// misbehaves on purpose; records every request head it receives.
//   /ok/...        200, Content-Length, Last-Modified, body "scripted body\n"
//   /nolm/...      200 without Last-Modified
//   /chunked/...   chunked body "chunk-onechunk-two"; HEAD says chunked too
//   /short/...     Content-Length 1000, 100 bytes, then the connection closes
//   /cutchunk/...  one chunk of 100 bytes, then the connection closes
//   /stall/...     Content-Length 1000000, 100 bytes, then silence
//   /silent/...    reads the request and never answers
//   /garbage/...   a reply that is not HTTP
//   /empty/...     closes without a reply
//   /empty200/...  200 with Content-Length 0
//   /badgzip/...   Content-Encoding gzip over corrupt data
// Hostile ones, each ending by itself within two minutes at the latest:
//   /endless/...         no length, the body never ends (Connection: close)
//   /endlesschunked/...  chunked, chunks without end; HEAD says chunked
//   /endlessheaders/...  header lines without end
//   /bigheader/...       one header line of 8 MiB
//   /drip/...            Content-Length 100000, then one byte every 2 s
//   /gzipbomb/...        Content-Encoding gzip over endless zeros, no length
// A path that names a file written with WriteFile is served as that file
// (Content-Length, Last-Modified from its time). A leading "rel/" (the base
// folder of the end-to-end runs) is passed over.
// Silences end when the client closes, or after 30 seconds. Absolute-form
// targets (as sent to a proxy) are answered the same way.
#pragma once

#include <string>
#include <vector>

#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

class CPythonHttpServer {
public:
    // Serves strDocRoot as "/". False with Error() set on failure.
    bool Start(const std::string& strDocRoot);
    int Port() const { return m_nPort; }
    const std::string& Error() const { return m_strError; }

private:
    CTempDir m_dir;
    CChildProcess m_process;
    int m_nPort = 0;
    std::string m_strError;
};

struct ScriptedRequest {
    int nConnection = 0;  // accepted connections are numbered from 1
    std::string strHead;  // request line and headers, CRLF ends, blank line last
};

class CScriptedHttpServer {
public:
    bool Start();
    int Port() const { return m_nPort; }
    // A port that accepts nothing: its queue is full, so connecting hangs.
    int BlackholePort() const { return m_nBlackholePort; }
    const std::string& Error() const { return m_strError; }
    // Every request head received so far, in arrival order.
    std::vector<ScriptedRequest> Requests() const;
    // Writes a file the server sends for /<strRel>; returns its path.
    std::string WriteFile(const std::string& strRel, const std::string& strData) const;
    // Where the file for /<strRel> lives, for files made by other means.
    std::string FilePath(const std::string& strRel) const { return m_dir.Sub("files/" + strRel); }

private:
    CTempDir m_dir;
    CChildProcess m_process;
    int m_nPort = 0;
    int m_nBlackholePort = 0;
    std::string m_strError;
};
