#include "service/certificate.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quillore::service {
namespace {

struct BioDeleter {
  void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};
struct KeyDeleter {
  void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
struct X509Deleter {
  void operator()(X509* cert) const noexcept { X509_free(cert); }
};
struct ExtensionDeleter {
  void operator()(X509_EXTENSION* ext) const noexcept { X509_EXTENSION_free(ext); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, ExtensionDeleter>;

struct FileCloser {
  int fd;
  ~FileCloser() {
    if (fd >= 0) {
      close(fd);
    }
  }
};

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

bool AddExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

bool ReadSmallFile(const std::string& path, std::string& out, std::string& error) {
  FileCloser file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  out.clear();
  char buffer[16384];
  for (;;) {
    const ssize_t n = read(file.fd, buffer, sizeof buffer);
    if (n < 0) {
      error = "cannot read " + path + ": " + std::strerror(errno);
      return false;
    }
    if (n == 0) {
      return true;
    }
    out.append(buffer, static_cast<std::size_t>(n));
    if (out.size() > kMaxPemFileSize) {
      error = path + " is too large to be a certificate or key";
      return false;
    }
  }
}

// Writes through a temporary file and a rename, so a crash never leaves half a file behind.
bool WriteFileAtomically(const std::string& path, const std::string& text, mode_t mode, std::string& error) {
  const std::string temporary = path + ".tmp";
  {
    FileCloser file{open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode)};
    if (file.fd < 0) {
      error = "cannot write " + temporary + ": " + std::strerror(errno);
      return false;
    }
    fchmod(file.fd, mode);
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(file.fd, text.data() + done, text.size() - done);
      if (n <= 0) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    if (fsync(file.fd) != 0) {
      error = "cannot write " + temporary + ": " + std::strerror(errno);
      return false;
    }
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + temporary + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool MakeDirectories(const std::string& path, std::string& error) {
  std::string prefix;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    prefix = path.substr(0, pos);
    if (prefix.empty()) {
      continue;
    }
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "cannot make the folder " + prefix + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

} // namespace

bool MakeSelfSignedCertificate(CertificatePair& pair, std::string& error) {
  KeyPtr key(EVP_EC_gen("P-256"));
  X509Ptr cert(X509_new());
  if (!key || !cert) {
    error = "cannot make a key";
    return false;
  }
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1) {
    error = "no randomness for the certificate's serial number";
    return false;
  }
  serial[0] &= 0x7F; // a positive number
  std::unique_ptr<BIGNUM, decltype(&BN_free)> number(BN_bin2bn(serial, sizeof serial, nullptr), &BN_free);
  X509_NAME* name = X509_get_subject_name(cert.get());
  const auto* commonName = reinterpret_cast<const unsigned char*>("localhost");
  const auto* organisation = reinterpret_cast<const unsigned char*>("Quillore local recognition service");
  const bool ok =
      number && X509_set_version(cert.get(), 2) == 1 &&
      BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert.get())) != nullptr &&
      X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60) != nullptr &&
      X509_gmtime_adj(X509_getm_notAfter(cert.get()), 60L * 60 * 24 * kCertificateDays) != nullptr &&
      X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, organisation, -1, -1, 0) == 1 &&
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, commonName, -1, -1, 0) == 1 &&
      X509_set_issuer_name(cert.get(), name) == 1 && X509_set_pubkey(cert.get(), key.get()) == 1 &&
      AddExtension(cert.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1") &&
      AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") &&
      AddExtension(cert.get(), NID_ext_key_usage, "serverAuth") &&
      X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
  if (!ok) {
    error = "cannot make the certificate";
    return false;
  }
  BioPtr certText(BIO_new(BIO_s_mem()));
  BioPtr keyText(BIO_new(BIO_s_mem()));
  if (!certText || !keyText || PEM_write_bio_X509(certText.get(), cert.get()) != 1 ||
      PEM_write_bio_PrivateKey(keyText.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    error = "cannot write the certificate";
    return false;
  }
  pair.certificatePem = BioText(certText.get());
  pair.keyPem = BioText(keyText.get());
  return true;
}

bool CertificateFitsKey(const CertificatePair& pair, std::string& error) {
  BioPtr certText(BIO_new_mem_buf(pair.certificatePem.data(), static_cast<int>(pair.certificatePem.size())));
  BioPtr keyText(BIO_new_mem_buf(pair.keyPem.data(), static_cast<int>(pair.keyPem.size())));
  X509Ptr cert(certText ? PEM_read_bio_X509(certText.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!cert) {
    error = "the certificate is not a PEM certificate";
    return false;
  }
  KeyPtr key(keyText ? PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key) {
    error = "the key is not an unencrypted PEM private key";
    return false;
  }
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    error = "the key does not belong to the certificate";
    return false;
  }
  return true;
}

std::string DefaultDataDirectory() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') {
    return std::string(data) + "/quillore";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && home[0] != '\0' ? home : ".") + "/.local/share/quillore";
}

bool LoadOrMakeCertificate(const std::string& certificatePath, const std::string& keyPath,
                           const std::string& directory, CertificatePair& pair, bool& made,
                           std::string& error) {
  made = false;
  if (certificatePath.empty() != keyPath.empty()) {
    error = "give both --cert and --key, or neither";
    return false;
  }
  if (!certificatePath.empty()) {
    if (!ReadSmallFile(certificatePath, pair.certificatePem, error) ||
        !ReadSmallFile(keyPath, pair.keyPem, error)) {
      return false;
    }
  } else {
    const std::string certFile = directory + "/ocrd-cert.pem";
    const std::string keyFile = directory + "/ocrd-key.pem";
    if (!Exists(certFile) || !Exists(keyFile)) {
      if (!MakeDirectories(directory, error) || !MakeSelfSignedCertificate(pair, error) ||
          !WriteFileAtomically(keyFile, pair.keyPem, 0600, error) ||
          !WriteFileAtomically(certFile, pair.certificatePem, 0644, error)) {
        return false;
      }
      made = true;
    } else if (!ReadSmallFile(certFile, pair.certificatePem, error) ||
               !ReadSmallFile(keyFile, pair.keyPem, error)) {
      return false;
    }
  }
  if (!CertificateFitsKey(pair, error)) {
    error += " (" + (certificatePath.empty() ? directory : certificatePath + ", " + keyPath) + ")";
    return false;
  }
  return true;
}

} // namespace quillore::service
