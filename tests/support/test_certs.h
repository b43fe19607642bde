// Certificates for TLS tests, made at test time with the openssl command
// line: a test authority and server certificates for 127.0.0.1/localhost.
// The engine trusts the authority when TIDEWELL_CA_BUNDLE names CaCert.
#pragma once

#include <string>

struct TestCertPair {
    std::string strCert;  // PEM certificate
    std::string strKey;   // PEM private key, unencrypted
};

struct TestCerts {
    std::string strCaCert;    // the test authority
    TestCertPair good;        // localhost and 127.0.0.1, signed by the authority
    TestCertPair expired;     // the same names, valid only in January 2020
    TestCertPair otherHost;   // signed by the authority for other.invalid only
    TestCertPair selfSigned;  // localhost and 127.0.0.1, signed by itself
};

// Makes them all in strDir (which must exist). False with openssl's output
// in *pstrError when a step fails.
bool MakeTestCerts(const std::string& strDir, TestCerts* pCerts, std::string* pstrError);
