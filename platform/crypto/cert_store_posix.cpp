#include <dirent.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <unordered_map>

#include "platform/base/hex.h"
#include "platform/base/last_error.h"
#include "platform/base/mutex.h"
#include "platform/base/win_status.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/detail/cert_native.h"
#include "platform/crypto/detail/handles.h"
#include "platform/os/detail/atomic_file.h"
#include "platform/os/state_root.h"

namespace platform {
namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool IsCertificateFile(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = Upper(std::string_view(name).substr(dot));
  return extension == ".CER" || extension == ".CRT" || extension == ".DER" || extension == ".PEM";
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// ReadCertificates appends the certificates of one file: DER, or PEM with one or more blocks.
void ReadCertificates(const std::string& path, CertCollection& out) {
  const std::string bytes = ReadWholeFile(path);
  if (bytes.find("-----BEGIN") != std::string::npos) {
    detail::BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    while (bio) {
      detail::X509Ptr x509(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
      if (!x509) break;
      if (CertContextPtr cert = detail::ImportX509(x509.get())) out.push_back(std::move(cert));
    }
    ERR_clear_error();
    return;
  }
  const auto* der = reinterpret_cast<const uint8_t*>(bytes.data());
  if (CertContextPtr cert = CertContext::Create(std::span<const uint8_t>(der, bytes.size()))) {
    out.push_back(std::move(cert));
  }
}

// IssuerSerialKey is a certificate's issuer and serial number as one key: the DER Name carries
// its own length, so the two cannot run into each other.
std::string IssuerSerialKey(const CertInfo& info) {
  std::string key(info.issuer.begin(), info.issuer.end());
  key.append(info.serialNumber.begin(), info.serialNumber.end());
  return key;
}

// LoadedFolder is a store folder's certificates, in file-name order, with the places of those of
// each issuer and serial number, so that a look-up by them costs the same in a store of ten
// thousand certificates as in one of ten.
struct LoadedFolder {
  CertCollection certificates;
  std::unordered_multimap<std::string, size_t> byIssuerSerial;
};

struct CachedFolder {
  timespec modified{};
  std::shared_ptr<const LoadedFolder> loaded;
};

Mutex cacheLock;
std::map<std::string, CachedFolder>& Cache() REQUIRES(cacheLock) {
  static auto* cache = new std::map<std::string, CachedFolder>();  // lives to the process end
  return *cache;
}

// CertificateFiles returns the paths of the certificate files of `folder`, in name order.
std::vector<std::string> CertificateFiles(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (IsCertificateFile(entry->d_name)) names.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (std::string& name : names) name = folder + "/" + name;
  return names;
}

std::shared_ptr<const LoadedFolder> LoadFolder(const std::string& folder) {
  auto loaded = std::make_shared<LoadedFolder>();
  for (const std::string& path : CertificateFiles(folder))
    ReadCertificates(path, loaded->certificates);
  for (size_t i = 0; i < loaded->certificates.size(); ++i) {
    loaded->byIssuerSerial.emplace(IssuerSerialKey(loaded->certificates[i]->Info()), i);
  }
  return loaded;
}

// CachedLoad returns the cached certificates of `folder` when they were read at `modified`.
std::shared_ptr<const LoadedFolder> CachedLoad(const std::string& folder,
                                               const timespec& modified) {
  const MutexLock lock(cacheLock);
  const auto cached = Cache().find(folder);
  if (cached != Cache().end() && cached->second.modified.tv_sec == modified.tv_sec &&
      cached->second.modified.tv_nsec == modified.tv_nsec) {
    return cached->second.loaded;
  }
  return nullptr;
}

// Loaded returns the certificates of `folder`, read again only when the folder changed since.
// One thread reads a changed folder while the others wait for what it read: a hundred workers
// reading a large store at once would each hold a copy.
std::shared_ptr<const LoadedFolder> Loaded(const std::string& folder) {
  static Mutex loadLock;
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) return std::make_shared<LoadedFolder>();
  if (auto loaded = CachedLoad(folder, info.st_mtim)) return loaded;
  const MutexLock loading(loadLock);
  if (auto loaded = CachedLoad(folder, info.st_mtim)) return loaded;
  std::shared_ptr<const LoadedFolder> loaded = LoadFolder(folder);
  const MutexLock lock(cacheLock);
  Cache()[folder] = CachedFolder{info.st_mtim, loaded};
  return loaded;
}

bool Matches(const CertInfo& a, const CertInfo& b) {
  return a.issuer == b.issuer && a.serialNumber == b.serialNumber;
}

// PemOf returns `certs` as PEM blocks, one after another.
std::string PemOf(const CertCollection& certs) {
  const detail::BioPtr bio(BIO_new(BIO_s_mem()));
  for (const auto& cert : certs) PEM_write_bio_X509(bio.get(), detail::NativeX509(*cert));
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::string LocationFolder(StoreLocation location) {
  return StateRoot() + "/stores/" +
         (location == StoreLocation::kCurrentUser ? "CurrentUser" : "LocalMachine");
}

// FindFolder returns the folder of store `upper` in `parent`: the one named in upper case, else
// one whose name matches it in another case, else the upper-case name.
std::string FindFolder(const std::string& parent, const std::string& upper) {
  if (access((parent + "/" + upper).c_str(), F_OK) == 0) return parent + "/" + upper;
  std::string found;
  if (DIR* dir = opendir(parent.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (Upper(entry->d_name) == upper) found = entry->d_name;
    }
    closedir(dir);
  }
  return parent + "/" + (found.empty() ? upper : found);
}

struct ResolvedFolder {
  timespec parentModified{};
  std::string folder;
};

Mutex folderCacheLock;
std::map<std::string, ResolvedFolder>& FolderCache() REQUIRES(folderCacheLock) {
  static auto* cache = new std::map<std::string, ResolvedFolder>();  // lives to the process end
  return *cache;
}

}  // namespace

std::string StoreFolder(StoreLocation location, std::string_view name) {
  const std::string parent = LocationFolder(location);
  const std::string upper = Upper(name);
  // A folder made by hand in another case is the same store. The answer holds as long as the
  // location's folder is unchanged (no store folder made, removed or renamed).
  struct stat parentInfo {};
  const bool parentExists = stat(parent.c_str(), &parentInfo) == 0;
  const std::string key = parent + "/" + upper;
  if (parentExists) {
    const MutexLock lock(folderCacheLock);
    const auto cached = FolderCache().find(key);
    if (cached != FolderCache().end() &&
        cached->second.parentModified.tv_sec == parentInfo.st_mtim.tv_sec &&
        cached->second.parentModified.tv_nsec == parentInfo.st_mtim.tv_nsec) {
      return cached->second.folder;
    }
  }
  std::string folder = FindFolder(parent, upper);
  if (parentExists) {
    const MutexLock lock(folderCacheLock);
    FolderCache()[key] = ResolvedFolder{parentInfo.st_mtim, folder};
  }
  return folder;
}

std::unique_ptr<CertStore> CertStore::Open(StoreLocation location, std::string_view name) {
  return std::unique_ptr<CertStore>(new CertStore(StoreFolder(location, name)));
}

std::shared_ptr<const CertCollection> CertStore::Certificates() const {
  std::shared_ptr<const LoadedFolder> loaded = Loaded(folder);
  return std::shared_ptr<const CertCollection>(loaded, &loaded->certificates);
}

// FindIn returns the first certificate of `loaded`, in file-name order, with the issuer and
// serial number of `info` for which `accept` holds; null with CRYPT_E_NOT_FOUND.
template <typename Accept>
CertContextPtr FindIn(const LoadedFolder& loaded, const CertInfo& info, const Accept& accept) {
  std::optional<size_t> first;
  const auto [from, to] = loaded.byIssuerSerial.equal_range(IssuerSerialKey(info));
  for (auto found = from; found != to; ++found) {
    if (accept(*loaded.certificates[found->second]) && (!first || found->second < *first)) {
      first = found->second;
    }
  }
  if (!first) {
    SetLastError(CRYPT_E_NOT_FOUND);
    return nullptr;
  }
  SetLastError(0);
  return loaded.certificates[*first]->Duplicate();
}

CertContextPtr CertStore::FindSubjectCert(const CertInfo& info) const {
  return FindIn(*Loaded(folder), info, [](const CertContext&) { return true; });
}

CertContextPtr CertStore::FindExisting(const CertContext& cert) const {
  return FindIn(*Loaded(folder), cert.Info(),
                [&cert](const CertContext& held) { return held.Encoded() == cert.Encoded(); });
}

bool CertStore::Add(const CertContext& cert, uint32_t disposition) {
  // The files that hold a matching certificate, each with the certificates it holds besides.
  std::vector<std::pair<std::string, CertCollection>> replaced;
  for (const std::string& file : CertificateFiles(folder)) {
    CertCollection held;
    ReadCertificates(file, held);
    CertCollection others;
    for (auto& existing : held) {
      if (!Matches(existing->Info(), cert.Info())) {
        others.push_back(std::move(existing));
        continue;
      }
      if (disposition == CERT_STORE_ADD_USE_EXISTING) return true;
      if (existing->Info().notBefore >= cert.Info().notBefore) {
        SetLastError(CRYPT_E_EXISTS);
        return false;
      }
    }
    if (others.size() < held.size()) replaced.emplace_back(file, std::move(others));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  EVP_Digest(cert.Encoded().data(), cert.Encoded().size(), digest, &digestLength, EVP_sha1(),
             nullptr);
  const std::string path =
      folder + "/" + HexText(std::span(digest, digestLength), HexCase::kLower) + ".cer";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  const std::string_view bytes(reinterpret_cast<const char*>(cert.Encoded().data()),
                               cert.Encoded().size());
  bool done = detail::WriteFileAtomically(path, bytes) == 0;
  // The older certificate goes only once the newer one is in place, so a reader never finds
  // neither.
  for (const auto& [file, others] : replaced) {
    if (!done || file == path) continue;
    done = others.empty() ? unlink(file.c_str()) == 0
                          : detail::WriteFileAtomically(file, PemOf(others)) == 0;
  }
  if (!done) SetLastError(ERROR_ACCESS_DENIED);
  return done;
}

}  // namespace platform
