#pragma once

#include <QByteArray>
#include <QString>

namespace velline::ed25519 {

// Ed25519 (pure EdDSA over the whole message) through OpenSSL 3. Keys and signatures travel as
// base64 text: a public key is its 32 raw bytes, a signature its 64 bytes, as in Sparkle's
// appcasts. Private keys are PKCS#8 PEM text.

struct KeyPair {
    QByteArray privateKeyPem;
    QString publicKeyBase64;
};

// A fresh key pair; empty members if OpenSSL fails.
KeyPair generate();

// The base64 public key belonging to `privateKeyPem`, or empty when it is not an Ed25519 key.
QString publicKeyOf(const QByteArray& privateKeyPem);

// The base64 signature of `message`, or empty (with `error` set) on failure.
QString sign(const QByteArray& privateKeyPem, const QByteArray& message, QString* error = nullptr);

// True only when `signatureBase64` is a valid signature of `message` by `publicKeyBase64`.
// Malformed keys or signatures are simply not valid.
bool verify(const QString& publicKeyBase64, const QByteArray& message,
            const QString& signatureBase64);

} // namespace velline::ed25519
