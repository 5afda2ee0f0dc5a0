#include "update/signature.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace velline::ed25519 {

namespace {

struct Free {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Free>;
using Bio = std::unique_ptr<BIO, Free>;

constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSignatureBytes = 64;

QByteArray strictBase64(const QString& text) {
    auto decoded = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? *decoded : QByteArray();
}

QString opensslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("unknown OpenSSL error");
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

Key readPrivateKey(const QByteArray& pem) {
    Bio bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    if (!bio)
        return {};
    Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (key && EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        key.reset();
    ERR_clear_error();
    return key;
}

QString rawPublicKey(EVP_PKEY* key) {
    unsigned char raw[kPublicKeyBytes];
    size_t size = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key, raw, &size) != 1 || size != kPublicKeyBytes)
        return {};
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(raw), qsizetype(size)).toBase64());
}

} // namespace

KeyPair generate() {
    std::unique_ptr<EVP_PKEY_CTX, Free> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* raw = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1)
        return {};
    Key key(raw);
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    KeyPair pair;
    pair.privateKeyPem = QByteArray(data, size);
    pair.publicKeyBase64 = rawPublicKey(key.get());
    return pair;
}

QString publicKeyOf(const QByteArray& privateKeyPem) {
    const Key key = readPrivateKey(privateKeyPem);
    return key ? rawPublicKey(key.get()) : QString();
}

QString sign(const QByteArray& privateKeyPem, const QByteArray& message, QString* error) {
    const Key key = readPrivateKey(privateKeyPem);
    if (!key) {
        if (error)
            *error = QStringLiteral("not an Ed25519 private key in PEM form");
        return {};
    }
    MdCtx ctx(EVP_MD_CTX_new());
    unsigned char signature[kSignatureBytes];
    size_t size = sizeof signature;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature, &size,
                       reinterpret_cast<const unsigned char*>(message.constData()),
                       size_t(message.size())) != 1) {
        if (error)
            *error = opensslError();
        return {};
    }
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(signature), qsizetype(size)).toBase64());
}

bool verify(const QString& publicKeyBase64, const QByteArray& message,
            const QString& signatureBase64) {
    const QByteArray publicKey = strictBase64(publicKeyBase64);
    const QByteArray signature = strictBase64(signatureBase64);
    if (size_t(publicKey.size()) != kPublicKeyBytes || size_t(signature.size()) != kSignatureBytes)
        return false;
    Key key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(publicKey.constData()),
        size_t(publicKey.size())));
    MdCtx ctx(EVP_MD_CTX_new());
    const bool ok =
        key && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
                         size_t(signature.size()),
                         reinterpret_cast<const unsigned char*>(message.constData()),
                         size_t(message.size())) == 1;
    ERR_clear_error();
    return ok;
}

} // namespace velline::ed25519
