#include "util/crypto.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>

namespace {

constexpr size_t kFileReadBytes = 1 << 20;
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct PkeyDeleter {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct BioDeleter {
    void operator()(BIO* p) const { BIO_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

const unsigned char* Bytes(std::string_view str) {
    return reinterpret_cast<const unsigned char*>(str.data());
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

}  // namespace

struct CSha256::Context {
    MdCtxPtr pCtx{EVP_MD_CTX_new()};
    bool bOk = false;
};

CSha256::CSha256() : m_pContext(std::make_unique<Context>()) {
    m_pContext->bOk = m_pContext->pCtx != nullptr &&
                      EVP_DigestInit_ex(m_pContext->pCtx.get(), EVP_sha256(), nullptr) == 1;
}

CSha256::~CSha256() = default;

void CSha256::Update(const void* pData, size_t nSize) {
    if (m_pContext->bOk && nSize > 0)
        m_pContext->bOk = EVP_DigestUpdate(m_pContext->pCtx.get(), pData, nSize) == 1;
}

std::string CSha256::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int nLength = 0;
    if (!m_pContext->bOk || EVP_DigestFinal_ex(m_pContext->pCtx.get(), digest, &nLength) != 1 ||
        nLength != kSha256Bytes) {
        m_pContext->bOk = false;
        return std::string();
    }
    m_pContext->bOk = false;  // finished: a second call gives nothing
    std::string strHex;
    strHex.reserve(kSha256HexLength);
    for (unsigned i = 0; i < nLength; ++i) {
        strHex += kHexDigits[digest[i] >> 4];
        strHex += kHexDigits[digest[i] & 0xF];
    }
    return strHex;
}

bool Sha256OfFile(const std::string& strPath, std::string* pstrHex) {
    std::FILE* fp = std::fopen(strPath.c_str(), "rb");
    if (fp == nullptr)
        return false;
    CSha256 sha;
    // Not cleared: clearing a megabyte costs more than hashing a small file.
    std::unique_ptr<char[]> pBuffer(new char[kFileReadBytes]);
    size_t nRead;
    while ((nRead = std::fread(pBuffer.get(), 1, kFileReadBytes, fp)) > 0)
        sha.Update(pBuffer.get(), nRead);
    bool bReadError = std::ferror(fp) != 0;
    std::fclose(fp);
    if (bReadError)
        return false;
    *pstrHex = sha.HexDigest();
    return !pstrHex->empty();
}

bool IsSha256Hex(std::string_view strText) {
    if (strText.size() != kSha256HexLength)
        return false;
    for (char c : strText) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

std::string EncodeBase64(std::string_view strData) {
    std::string strOut;
    strOut.reserve((strData.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= strData.size(); i += 3) {
        unsigned n = Bytes(strData)[i] << 16 | Bytes(strData)[i + 1] << 8 | Bytes(strData)[i + 2];
        for (int nShift = 18; nShift >= 0; nShift -= 6)
            strOut += kBase64Alphabet[(n >> nShift) & 0x3F];
    }
    size_t nRest = strData.size() - i;
    if (nRest > 0) {
        unsigned n = Bytes(strData)[i] << 16;
        if (nRest == 2)
            n |= Bytes(strData)[i + 1] << 8;
        strOut += kBase64Alphabet[(n >> 18) & 0x3F];
        strOut += kBase64Alphabet[(n >> 12) & 0x3F];
        strOut += nRest == 2 ? kBase64Alphabet[(n >> 6) & 0x3F] : '=';
        strOut += '=';
    }
    return strOut;
}

bool DecodeBase64(std::string_view strText, std::string* pstrData) {
    if (strText.size() % 4 != 0)
        return false;
    size_t nPad = 0;
    while (nPad < 2 && nPad < strText.size() && strText[strText.size() - 1 - nPad] == '=')
        ++nPad;
    std::string strOut;
    strOut.reserve(strText.size() / 4 * 3);
    unsigned nBits = 0;
    int nBitCount = 0;
    for (size_t i = 0; i < strText.size() - nPad; ++i) {
        int nValue = Base64Value(strText[i]);
        if (nValue < 0)
            return false;
        nBits = ((nBits << 6) | static_cast<unsigned>(nValue)) & 0xFFFF;
        nBitCount += 6;
        if (nBitCount >= 8) {
            nBitCount -= 8;
            strOut += static_cast<char>((nBits >> nBitCount) & 0xFF);
        }
    }
    // What padding leaves over must be zero bits, or two texts would mean
    // the same bytes.
    if ((nBits & ((1u << nBitCount) - 1)) != 0)
        return false;
    *pstrData = std::move(strOut);
    return true;
}

bool DecodeEd25519PublicKey(std::string_view strBase64, std::string* pstrKey) {
    std::string strKey;
    if (!DecodeBase64(strBase64, &strKey) || strKey.size() != kEd25519PublicKeyBytes)
        return false;
    *pstrKey = std::move(strKey);
    return true;
}

bool VerifyEd25519(std::string_view strPublicKey, std::string_view strMessage,
                   std::string_view strSignature) {
    if (strPublicKey.size() != kEd25519PublicKeyBytes ||
        strSignature.size() != kEd25519SignatureBytes) {
        return false;
    }
    PkeyPtr pKey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, Bytes(strPublicKey),
                                             strPublicKey.size()));
    MdCtxPtr pCtx(EVP_MD_CTX_new());
    if (!pKey || !pCtx ||
        EVP_DigestVerifyInit(pCtx.get(), nullptr, nullptr, nullptr, pKey.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(pCtx.get(), Bytes(strSignature), strSignature.size(), Bytes(strMessage),
                            strMessage.size()) == 1;
}

bool GenerateEd25519Key(std::string* pstrPrivatePem, std::string* pstrPublicKey) {
    PkeyPtr pKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    BioPtr pBio(BIO_new(BIO_s_mem()));
    if (!pKey || !pBio ||
        PEM_write_bio_PrivateKey(pBio.get(), pKey.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1) {
        return false;
    }
    char* pPem = nullptr;
    long nPem = BIO_get_mem_data(pBio.get(), &pPem);
    unsigned char raw[kEd25519PublicKeyBytes];
    size_t nRaw = sizeof(raw);
    if (nPem <= 0 || EVP_PKEY_get_raw_public_key(pKey.get(), raw, &nRaw) != 1 ||
        nRaw != sizeof(raw)) {
        return false;
    }
    pstrPrivatePem->assign(pPem, static_cast<size_t>(nPem));
    pstrPublicKey->assign(reinterpret_cast<const char*>(raw), nRaw);
    return true;
}

bool SignEd25519(const std::string& strPrivatePem, std::string_view strMessage,
                 std::string* pstrSignature, std::string* pstrError) {
    BioPtr pBio(BIO_new_mem_buf(strPrivatePem.data(), static_cast<int>(strPrivatePem.size())));
    PkeyPtr pKey(pBio ? PEM_read_bio_PrivateKey(pBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!pKey || EVP_PKEY_get_id(pKey.get()) != EVP_PKEY_ED25519) {
        *pstrError = "not an Ed25519 private key in PEM form";
        return false;
    }
    MdCtxPtr pCtx(EVP_MD_CTX_new());
    unsigned char sig[kEd25519SignatureBytes];
    size_t nSig = sizeof(sig);
    if (!pCtx || EVP_DigestSignInit(pCtx.get(), nullptr, nullptr, nullptr, pKey.get()) != 1 ||
        EVP_DigestSign(pCtx.get(), sig, &nSig, Bytes(strMessage), strMessage.size()) != 1 ||
        nSig != sizeof(sig)) {
        *pstrError = "signing failed";
        return false;
    }
    pstrSignature->assign(reinterpret_cast<const char*>(sig), nSig);
    return true;
}
