#pragma once

// Trust in an update: the publisher's signature on the version descriptor, and the check of a
// downloaded package against what the signed descriptor says of it. The descriptor comes over
// plain HTTP, so only the signature says that the publisher wrote it; its digest and version then
// bind the package to it.

#include "core/update/HttpClient.h"
#include "core/update/VersionInfo.h"

#include <QByteArrayView>
#include <QString>

// The keyring the package installs: the publisher's public key, as `gpg --export` writes it.
inline constexpr char kInstalledUpdateKeyring[] = "/usr/share/keyrings/tarnyx-archive-keyring.gpg";

// The keyring update signatures are checked against: the file the environment variable
// TARNYX_UPDATE_KEYRING names (an administrator's own mirror, tests), else the installed one.
QString updateKeyring();

enum class SignatureVerdict
{
    Good,
    Missing,    // no signature was published
    Bad,        // not a valid signature of these bytes by a key of the keyring
    NoKeyring,  // the keyring file cannot be read
    NoVerifier, // gpgv is not installed or does not run
};

// Checks `signature`, a detached OpenPGP signature (binary or ASCII-armoured), of `data` with gpgv
// against `keyring` alone. Missing when `signature` is empty. Takes at most 30 s.
SignatureVerdict verifySignature(QByteArrayView data, QByteArrayView signature,
                                 const QString& keyring);

// What a verdict other than Good means, one Czech sentence for the user and the event log.
QString signatureProblemText(SignatureVerdict verdict, const QString& keyring);

// A version descriptor as retrieved with its signature.
struct SignedDescriptor
{
    // The retrieval: the descriptor's, or its signature's when that failed otherwise than with 404
    // (no signature published).
    HttpResult http;
    SignatureVerdict signature = SignatureVerdict::Missing;
    // Section `section` of the descriptor, with its bytes and signature; left empty unless both
    // came and the signature is good.
    VersionDescriptor descriptor;
};

// Retrieves the descriptor at `url` and its signature at `url` + ".sig", and checks the signature
// against `keyring`.
SignedDescriptor retrieveSignedDescriptor(HttpClient& client, const QString& url,
                                          const QString& section, const QString& keyring);

// Whether `text` is a SHA-256 digest as descriptors write it: 64 hexadecimal digits.
bool isSha256Text(const QString& text);

// The lower-case hex SHA-256 digest of a file's content, read through `fd` from its start; empty
// when it cannot be read.
QString sha256OfFile(int fd);

// Checks the package file `path` (never through a link) against a signed offer: its SHA-256
// digest is `sha256`, it is a Debian package, and its control fields say "Package: tarnyx" and
// "Version: `version`". Empty when all holds, otherwise why not, in Czech for the event log.
QString checkPackage(const QString& path, const QString& sha256, const QString& version);
