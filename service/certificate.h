// The service's TLS certificate and key: read from files, or made once and kept for later starts.
#pragma once

#include <string>

namespace quillore::service {

struct CertificatePair {
  std::string certificatePem;
  std::string keyPem;
};

// Files larger than this are not certificates or keys.
inline constexpr std::size_t kMaxPemFileSize = 1024 * 1024;
// How long a made certificate is valid.
inline constexpr int kCertificateDays = 3650;

// A new self-signed certificate for localhost, 127.0.0.1 and ::1, with an EC P-256 key.
bool MakeSelfSignedCertificate(CertificatePair& pair, std::string& error);

// True when the certificate parses and the key belongs to it.
bool CertificateFitsKey(const CertificatePair& pair, std::string& error);

// "$XDG_DATA_HOME/quillore", or "~/.local/share/quillore" when that is unset or not absolute.
std::string DefaultDataDirectory();

// With both paths given, reads them. With neither, reads "ocrd-cert.pem" and "ocrd-key.pem" from
// `directory`, first making and storing a new pair there (key readable by the owner only) when they
// do not exist yet; `made` tells whether that happened. Either way the pair is checked.
bool LoadOrMakeCertificate(const std::string& certificatePath, const std::string& keyPath,
                           const std::string& directory, CertificatePair& pair, bool& made,
                           std::string& error);

} // namespace quillore::service
