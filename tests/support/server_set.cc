#include "tests/support/server_set.h"

#include <gtest/gtest.h>

#include <string>

CServerSet& TestServers() {
    static CServerSet s_set;
    return s_set;
}

const TestCerts& CServerSet::Certs() {
    if (!m_pCerts) {
        m_pCerts = std::make_unique<TestCerts>();
        std::string strError;
        if (!MakeTestCerts(m_certDir.Path(), m_pCerts.get(), &strError))
            ADD_FAILURE() << "test certificates: " << strError;
    }
    return *m_pCerts;
}

CScriptedHttpServer& CServerSet::Scripted() {
    if (!m_pScripted) {
        m_pScripted = std::make_unique<CScriptedHttpServer>();
        if (!m_pScripted->Start())
            ADD_FAILURE() << "scripted server: " << m_pScripted->Error();
    }
    return *m_pScripted;
}

CNginxServer& CServerSet::Nginx() {
    return Started(0);
}

CNginxServer& CServerSet::NginxTls(Cert eCert) {
    return Started(1 + static_cast<int>(eCert));
}

CNginxServer& CServerSet::Started(int nIndex) {
    if (m_apNginx[nIndex])
        return *m_apNginx[nIndex];
    NginxOptions options;
    options.strServerSnippet = R"NGINX(
        location /base/chunked/ {
            sub_filter_types *;
            sub_filter 'text-that-never-appears' 'x';
            sub_filter_once off;
            sub_filter_last_modified on;
        }
        location /base/gz/ { gzip_static always; }
        location = /base/error500 { return 500; }
        location /base/slow/ { limit_rate 1m; }
        location /base/slowgz/ { limit_rate 1m; gzip_static always; }
        location /base/trickle/ { limit_rate 64k; }
        location /base/cut/ { rewrite ^ /short/x break; proxy_pass http://127.0.0.1:)NGINX" +
                               std::to_string(Scripted().Port()) + "; }\n";
    if (nIndex > 0) {
        const TestCerts& certs = Certs();
        const TestCertPair* apPairs[] = {&certs.good, &certs.expired, &certs.otherHost,
                                         &certs.selfSigned};
        options.strCertFile = apPairs[nIndex - 1]->strCert;
        options.strKeyFile = apPairs[nIndex - 1]->strKey;
        options.bHttp2 = nIndex == 1;
    }
    m_apNginx[nIndex] = std::make_unique<CNginxServer>();
    if (!m_apNginx[nIndex]->Start(options))
        ADD_FAILURE() << "nginx: " << m_apNginx[nIndex]->Error();
    return *m_apNginx[nIndex];
}
