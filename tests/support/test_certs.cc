#include "tests/support/test_certs.h"

#include <fstream>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

// One configuration for the authority, the requests and the signing.
constexpr const char* kOpensslConfig = R"([ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = unused
[ v3_ca ]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[ ca ]
default_ca = test_ca
[ test_ca ]
database = $dir/index.txt
new_certs_dir = $dir/issued
serial = $dir/serial
default_md = sha256
policy = any_policy
unique_subject = no
copy_extensions = none
[ any_policy ]
commonName = supplied
[ server_local ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1
[ server_other ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.invalid
)";

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
    std::string strText = kOpensslConfig;
    strText.insert(strText.find("database"), "dir = " + strDir + "\n");
    std::ofstream(strConf) << strText;

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
