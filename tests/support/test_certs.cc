#include "tests/support/test_certs.h"

#include <cstdio>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

// One configuration for the authority, the requests and the signing.
std::string OpensslConfig(const std::string& strDir) {
    return "[ req ]\n"
           "distinguished_name = dn\n"
           "prompt = no\n"
           "[ dn ]\n"
           "CN = unused\n"
           "[ v3_ca ]\n"
           "basicConstraints = critical,CA:TRUE\n"
           "keyUsage = critical,keyCertSign,cRLSign\n"
           "subjectKeyIdentifier = hash\n"
           "[ ca ]\n"
           "default_ca = test_ca\n"
           "[ test_ca ]\n"
           "dir = " +
           strDir +
           "\n"
           "database = $dir/index.txt\n"
           "new_certs_dir = $dir/issued\n"
           "serial = $dir/serial\n"
           "default_md = sha256\n"
           "policy = any_policy\n"
           "unique_subject = no\n"
           "copy_extensions = none\n"
           "[ any_policy ]\n"
           "commonName = supplied\n"
           "[ server_local ]\n"
           "basicConstraints = CA:FALSE\n"
           "keyUsage = critical,digitalSignature,keyEncipherment\n"
           "extendedKeyUsage = serverAuth\n"
           "subjectAltName = DNS:localhost,IP:127.0.0.1\n"
           "[ server_other ]\n"
           "basicConstraints = CA:FALSE\n"
           "keyUsage = critical,digitalSignature,keyEncipherment\n"
           "extendedKeyUsage = serverAuth\n"
           "subjectAltName = DNS:other.invalid\n";
}

std::string Quote(const std::string& str) {
    return "'" + str + "'";
}

}  // namespace

bool MakeTestCerts(const std::string& strDir, TestCerts* pCerts, std::string* pstrError) {
    auto path = [&](const std::string& strName) { return strDir + "/" + strName; };
    std::string strConf = path("openssl.cnf");
    std::string strLog = path("openssl.log");
    if (RunShell("mkdir -p " + Quote(path("issued")) + " && : > " + Quote(path("index.txt")) +
                 " && echo 01 > " + Quote(path("serial"))) != 0) {
        *pstrError = "cannot prepare " + strDir;
        return false;
    }
    FILE* fp = std::fopen(strConf.c_str(), "w");
    if (fp == nullptr) {
        *pstrError = "cannot write " + strConf;
        return false;
    }
    std::string strText = OpensslConfig(strDir);
    std::fwrite(strText.data(), 1, strText.size(), fp);
    std::fclose(fp);

    const std::string strReq = "openssl req -config " + Quote(strConf) +
                               " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string strCa = "openssl ca -config " + Quote(strConf) + " -batch -notext -cert " +
                              Quote(path("ca.crt")) + " -keyfile " + Quote(path("ca.key"));
    auto request = [&](const std::string& strName) {
        return strReq + " -new -subj /CN=localhost -keyout " + Quote(path(strName + ".key")) +
               " -out " + Quote(path(strName + ".csr"));
    };
    auto sign = [&](const std::string& strName, const std::string& strExt,
                    const std::string& strDates) {
        return strCa + " -in " + Quote(path(strName + ".csr")) + " -out " +
               Quote(path(strName + ".crt")) + " -extensions " + strExt + " " + strDates;
    };
    std::vector<std::string> vecSteps = {
        strReq + " -x509 -extensions v3_ca -days 3650 -subj '/CN=Tidewell Test Authority'" +
            " -keyout " + Quote(path("ca.key")) + " -out " + Quote(path("ca.crt")),
        request("good"),
        sign("good", "server_local", "-days 30"),
        request("expired"),
        sign("expired", "server_local", "-startdate 20200101000000Z -enddate 20200201000000Z"),
        request("other"),
        sign("other", "server_other", "-days 30"),
        strReq + " -x509 -extensions server_local -days 30 -subj /CN=localhost -keyout " +
            Quote(path("self.key")) + " -out " + Quote(path("self.crt")),
    };
    for (const std::string& strStep : vecSteps) {
        if (RunShell(strStep + " >> " + Quote(strLog) + " 2>&1") != 0) {
            *pstrError = "failed: " + strStep + "\n" + ReadWholeFile(strLog);
            return false;
        }
    }
    pCerts->strCaCert = path("ca.crt");
    pCerts->good = {path("good.crt"), path("good.key")};
    pCerts->expired = {path("expired.crt"), path("expired.key")};
    pCerts->otherHost = {path("other.crt"), path("other.key")};
    pCerts->selfSigned = {path("self.crt"), path("self.key")};
    return true;
}
