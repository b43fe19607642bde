// The HTTP servers of one test program, each started on its first use and
// stopped when the program exits: the scripted server, nginx over HTTP, nginx
// over HTTPS with each test certificate, and the certificates themselves
// (made once with openssl). Tests share them, so each writes its files below
// paths of its own. Call from the test's main thread.
//
//   CServerSet& servers = TestServers();
//   servers.Nginx().WriteFile("base/mine/a.txt", "data");
//   ... requests to 127.0.0.1:servers.Nginx().Port() ...
//
// Every nginx serves the document root plus these locations:
//   /base/chunked/   no Content-Length (chunked)
//   /base/gz/        name.gz sent for name with Content-Encoding gzip
//   /base/error500   status 500
//   /base/slow/      1 MiB at once, then 1 MiB a second (slowgz/: and gzip as above)
//   /base/trickle/   64 KiB a second
//   /base/cut/       the scripted server's /short/: 100 of 1000 bytes, then closed
// A server that cannot be started fails the test that asked for it.
#pragma once

#include <memory>

#include "tests/support/nginx_server.h"
#include "tests/support/python_servers.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_certs.h"

class CServerSet {
public:
    enum class Cert { kGood, kExpired, kOtherHost, kSelfSigned };

    CScriptedHttpServer& Scripted();
    CNginxServer& Nginx();
    // HTTPS with that certificate; the good one offers HTTP/2 as well.
    CNginxServer& NginxTls(Cert eCert);
    // The authority, for TIDEWELL_CA_BUNDLE.
    const TestCerts& Certs();

private:
    CTempDir m_certDir;
    std::unique_ptr<TestCerts> m_pCerts;
    std::unique_ptr<CScriptedHttpServer> m_pScripted;
    std::unique_ptr<CNginxServer> m_apNginx[5];  // plain, then one per Cert
    CNginxServer& Started(int nIndex);
};

// The program's one set.
CServerSet& TestServers();
