#include "tests/support/nginx_server.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

namespace {

// How many fresh ports are tried when the chosen one was taken meanwhile.
constexpr int kStartAttempts = 5;
constexpr int kStartTimeoutMs = 5000;
constexpr int kQuitGraceMs = 1000;
constexpr int kLogWaitMs = 2000;

constexpr const char kLogFormat[] =
    "'$connection $connection_requests $status $bytes_sent $request_method $request_uri "
    "\"$request\"'";

}  // namespace

CNginxServer::~CNginxServer() {
    Stop();
}

std::string CNginxServer::MakeConfig(const NginxOptions& options, int nPort) const {
    const std::string& d = m_dir.Path();
    bool bTls = !options.strCertFile.empty();
    std::ostringstream conf;
    conf << "daemon off;\n"
         << "master_process off;\n"
         << "worker_processes 1;\n"
         << "pid " << d << "/nginx.pid;\n"
         << "error_log " << d << "/error.log info;\n"
         << "events { worker_connections 256; }\n"
         << "http {\n"
         << "    default_type application/octet-stream;\n"
         << "    log_format tidewell " << kLogFormat << ";\n"
         << "    access_log " << d << "/access.log tidewell;\n"
         << "    client_body_temp_path " << d << "/tmp/body;\n"
         << "    proxy_temp_path " << d << "/tmp/proxy;\n"
         << "    fastcgi_temp_path " << d << "/tmp/fastcgi;\n"
         << "    uwsgi_temp_path " << d << "/tmp/uwsgi;\n"
         << "    scgi_temp_path " << d << "/tmp/scgi;\n"
         << "    sendfile on;\n"
         << "    keepalive_requests 1000000;\n"
         << "    keepalive_timeout 60s;\n"
         << "    server {\n"
         << "        listen 127.0.0.1:" << nPort << (bTls ? " ssl" : "")
         << (bTls && options.bHttp2 ? " http2" : "") << ";\n"
         << "        server_name localhost;\n"
         << "        root " << DocRoot() << ";\n";
    if (bTls) {
        conf << "        ssl_certificate " << options.strCertFile << ";\n"
             << "        ssl_certificate_key " << options.strKeyFile << ";\n";
    }
    conf << options.strServerSnippet << "\n"
         << "    }\n"
         << "}\n";
    return conf.str();
}

bool CNginxServer::Start(const NginxOptions& options) {
    Stop();
    // Outside root's PATH as a rule.
    std::string strBinary = access("/usr/sbin/nginx", X_OK) == 0 ? "/usr/sbin/nginx" : "nginx";
    std::error_code ec;
    std::filesystem::create_directories(m_dir.Sub("tmp"), ec);
    std::filesystem::create_directories(DocRoot(), ec);
    for (int nAttempt = 0; nAttempt < kStartAttempts; ++nAttempt) {
        int nPort = FindFreeLoopbackPort();
        std::string strConf = m_dir.WriteFile("nginx.conf", MakeConfig(options, nPort));
        std::filesystem::remove(m_dir.Sub("error.log"), ec);
        if (!m_process.Start(
                {strBinary, "-p", m_dir.Path() + "/", "-c", strConf, "-e", m_dir.Sub("error.log")},
                m_dir.Sub("stdout.log"))) {
            m_strError = "cannot run " + strBinary;
            return false;
        }
        bool bUp = WaitForLoopbackPort(nPort, kStartTimeoutMs);
        std::string strLog = ReadWholeFile(m_dir.Sub("error.log"));
        if (bUp && m_process.IsRunning() && strLog.find("bind() to") == std::string::npos) {
            m_nPort = nPort;
            m_strError.clear();
            return true;
        }
        m_process.Stop(SIGKILL, kQuitGraceMs);
        m_strError = "nginx did not start: " + strLog + ReadWholeFile(m_dir.Sub("stdout.log"));
        if (strLog.find("Address already in use") == std::string::npos)
            return false;
    }
    return false;
}

void CNginxServer::Stop() {
    m_process.Stop(SIGQUIT, kQuitGraceMs);
    m_nPort = 0;
}

std::string CNginxServer::WriteFile(const std::string& strRelPath,
                                    const std::string& strData) const {
    return m_dir.WriteFile("www/" + strRelPath, strData);
}

std::vector<NginxAccessEntry> CNginxServer::AccessLog() const {
    std::vector<NginxAccessEntry> vecEntries;
    std::istringstream log(ReadWholeFile(m_dir.Sub("access.log")));
    for (std::string strLine; std::getline(log, strLine);) {
        std::istringstream in(strLine);
        NginxAccessEntry entry;
        if (!(in >> entry.nConnection >> entry.nRequestNo >> entry.nStatus >> entry.nBytesSent >>
              entry.strMethod >> entry.strUri))
            continue;
        size_t nQuote = strLine.find('"');
        if (nQuote != std::string::npos && strLine.size() > nQuote + 1)
            entry.strRequest = strLine.substr(nQuote + 1, strLine.size() - nQuote - 2);
        vecEntries.push_back(entry);
    }
    return vecEntries;
}

std::vector<NginxAccessEntry> CNginxServer::AccessLogFor(const std::string& strUriPrefix,
                                                         size_t nExpected) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLogWaitMs);
    for (;;) {
        std::vector<NginxAccessEntry> vecEntries;
        for (const NginxAccessEntry& entry : AccessLog()) {
            if (entry.strUri.rfind(strUriPrefix, 0) == 0)
                vecEntries.push_back(entry);
        }
        if (vecEntries.size() >= nExpected || std::chrono::steady_clock::now() > deadline) {
            return vecEntries;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
