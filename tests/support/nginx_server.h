// A real nginx for tests: a child process on a free 127.0.0.1 port with a
// configuration generated into a scratch folder (pid, logs, temp paths and
// the document root all inside it), stopped when the object goes away.
// Plain HTTP, or HTTPS with a given certificate.
#pragma once

#include <string>
#include <vector>

#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

struct NginxOptions {
    // HTTPS with this certificate and key (PEM files) instead of plain HTTP.
    std::string strCertFile;
    std::string strKeyFile;
    // With a certificate: offer HTTP/2 as well (ALPN).
    bool bHttp2 = false;
    // Directives inside the server block, e.g. extra locations.
    std::string strServerSnippet;
};

// One line of the access log.
struct NginxAccessEntry {
    long nConnection = 0;  // serial number of the connection ($connection)
    long nRequestNo = 0;   // number of the request on it, from 1
    int nStatus = 0;
    long long nBytesSent = 0;  // headers and body, as nginx counts them
    std::string strMethod;
    std::string strUri;      // the request target as received
    std::string strRequest;  // the whole request line, as nginx logs it ("... HTTP/2.0")
};

class CNginxServer {
public:
    CNginxServer() = default;
    ~CNginxServer();
    CNginxServer(const CNginxServer&) = delete;
    CNginxServer& operator=(const CNginxServer&) = delete;

    // Starts nginx and waits until it answers; retries on a port taken in
    // the meantime. False with Error() set when it cannot be started.
    bool Start(const NginxOptions& options = NginxOptions());
    // Stops it: graceful quit, then kill.
    void Stop();

    int Port() const { return m_nPort; }
    const std::string& Error() const { return m_strError; }
    // Folder served as "/".
    std::string DocRoot() const { return m_dir.Sub("www"); }
    // Writes a file below the document root; returns its full path.
    std::string WriteFile(const std::string& strRelPath, const std::string& strData) const;

    std::vector<NginxAccessEntry> AccessLog() const;
    // The entries whose request target starts with strUriPrefix, waiting (up
    // to 2 s) until nExpected of them are there: nginx logs a request just
    // after answering it.
    std::vector<NginxAccessEntry> AccessLogFor(const std::string& strUriPrefix,
                                               size_t nExpected) const;

private:
    CTempDir m_dir;
    CChildProcess m_process;
    int m_nPort = 0;
    std::string m_strError;

    std::string MakeConfig(const NginxOptions& options, int nPort) const;
};
