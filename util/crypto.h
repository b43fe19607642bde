// SHA-256, base64 and Ed25519 for signed list files, on OpenSSL's EVP
// interface. Free functions and one small class; no state is shared, so any
// thread may use them. The engine checks with them, the publisher's tool signs.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

constexpr size_t kSha256Bytes = 32;
constexpr size_t kSha256HexLength = 2 * kSha256Bytes;
constexpr size_t kEd25519PublicKeyBytes = 32;
constexpr size_t kEd25519SignatureBytes = 64;

// A SHA-256 fed piece by piece as the data goes by. The owner calls Update
// for every piece in order, then HexDigest once.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Update(const void* pData, size_t nSize);
    // 64 lowercase hex digits; empty when the digest could not be made.
    std::string HexDigest();

private:
    struct Context;
    std::unique_ptr<Context> m_pContext;
};

// SHA-256 of a whole file as lowercase hex; false when it cannot be read.
bool Sha256OfFile(const std::string& strPath, std::string* pstrHex);
// True for exactly 64 lowercase hex digits.
bool IsSha256Hex(std::string_view strText);

// Standard base64 with padding.
std::string EncodeBase64(std::string_view strData);
// Strict: only the standard alphabet, length a multiple of 4, padding only
// at the end and unused bits zero, so every text has one meaning.
bool DecodeBase64(std::string_view strText, std::string* pstrData);

// The raw 32-byte Ed25519 public key from its base64 text (LIST_PUBLIC_KEY,
// --public-key); false unless the text is strict base64 of exactly 32 bytes.
bool DecodeEd25519PublicKey(std::string_view strBase64, std::string* pstrKey);
// True when strSignature is a valid Ed25519 signature of strMessage by the
// raw 32-byte public key.
bool VerifyEd25519(std::string_view strPublicKey, std::string_view strMessage,
                   std::string_view strSignature);
// A new key pair: the private key as PEM (PKCS #8), the public key raw.
bool GenerateEd25519Key(std::string* pstrPrivatePem, std::string* pstrPublicKey);
// Signs with an Ed25519 private key given as PEM; false with a reason when
// the PEM holds no such key.
bool SignEd25519(const std::string& strPrivatePem, std::string_view strMessage,
                 std::string* pstrSignature, std::string* pstrError);
