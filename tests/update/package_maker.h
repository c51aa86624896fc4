#pragma once
// Update packages made in the test: ZIP archives with chosen names, permissions and links, and Ed25519 keys
// and signatures, so the updater meets both well-formed and hostile packages.

#include <openssl/evp.h>
#include <sys/stat.h>
#include <zip.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/files.h"

// The Unix file type of a link, which a ZIP entry's attributes carry whatever system reads them; Windows
// headers do not name it.
#ifndef S_IFLNK
#define S_IFLNK 0120000
#endif

namespace tandrel::testing {

struct PackageEntry {
    std::string name;
    std::string bytes;
    unsigned mode = 0644;  // with S_IFLNK for a link (bytes: its target)
    bool unixAttributes = true;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string MakePackage(const std::filesystem::path& scratch,
                               const std::vector<PackageEntry>& entries) {
    const auto path = scratch / "package.zip";
    std::filesystem::remove(path);
    int error = 0;
    zip_t* z = zip_open(PathToUtf8(path).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z) throw std::runtime_error("zip_open");
    for (const auto& e : entries) {
        zip_source_t* src = zip_source_buffer(z, e.bytes.data(), e.bytes.size(), 0);
        const zip_int64_t index = e.name.back() == '/' ? zip_dir_add(z, e.name.c_str(), ZIP_FL_ENC_RAW)
                                                       : zip_file_add(z, e.name.c_str(), src, ZIP_FL_ENC_RAW);
        if (index < 0) throw std::runtime_error("zip add " + e.name);
        if (e.name.back() == '/') zip_source_free(src);
        const unsigned type = (e.mode & S_IFMT) ? 0 : (e.name.back() == '/' ? S_IFDIR : S_IFREG);
        if (e.unixAttributes)
            zip_file_set_external_attributes(z, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                             (type | e.mode) << 16);
    }
    if (zip_close(z) != 0) throw std::runtime_error("zip_close");
    return ReadBytes(path);
}

inline std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// An Ed25519 key pair: Base64 of the raw public key, and a signer.
class SigningKey {
  public:
    SigningKey() {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
        EVP_PKEY_keygen_init(ctx);
        EVP_PKEY_keygen(ctx, &key_);
        EVP_PKEY_CTX_free(ctx);
    }
    ~SigningKey() { EVP_PKEY_free(key_); }
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;

    std::string PublicKey() const {
        std::string raw(32, '\0');
        std::size_t n = raw.size();
        EVP_PKEY_get_raw_public_key(key_, reinterpret_cast<unsigned char*>(raw.data()), &n);
        return Base64(raw);
    }
    std::string Sign(const std::string& bytes) const {
        std::string sig(64, '\0');
        std::size_t n = sig.size();
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key_);
        EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(sig.data()), &n,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        EVP_MD_CTX_free(ctx);
        return Base64(sig);
    }

  private:
    EVP_PKEY* key_ = nullptr;
};

// A release signature as the vendor makes it: over the product code, tag, version and the package's SHA-256.
inline std::string SignedFor(const SigningKey& key, const std::string& package, const std::string& product,
                             const std::string& tag, const std::string& version) {
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(package.data(), package.size(), digest, &length, EVP_sha256(), nullptr);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : digest) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return key.Sign(product + "\n" + tag + "\n" + version + "\n" + hex + "\n");
}

}  // namespace tandrel::testing
