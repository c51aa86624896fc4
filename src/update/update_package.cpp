#include "update/update_package.h"

#include <openssl/evp.h>
#include <sys/stat.h>
#include <zip.h>

#include <QProcess>
#include <QString>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "support/base64.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

namespace fs = std::filesystem;

// Far above any real package; a "zip bomb" stops here instead of filling the disk.
constexpr zip_uint64_t kMaxUnpackedBytes = 2ull << 30;

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};

void Say(std::string* detail, std::string text) {
    if (detail) *detail = std::move(text);
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > text.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

// Entry names are GBK unless they are valid UTF-8 (archivers of either kind exist); on disk they are UTF-8.
fs::path LocalPath(const fs::path& target, std::string_view rawName) {
    std::string name = IsValidUtf8(rawName) ? std::string(rawName) : GbkToUtf8(rawName);
    return target / fs::path(std::u8string(name.begin(), name.end()));
}

struct Entry {
    zip_uint64_t index;
    std::string name;
    bool directory;
    zip_uint64_t size;
    unsigned mode;  // Unix permission bits, 0 when the archive has none
};

// No existing symbolic link on the way from target to path may lead the write elsewhere.
bool PathStaysInside(const fs::path& target, const fs::path& path) {
    fs::path walk = target;
    const fs::path relative = path.lexically_relative(target);
    for (const auto& part : relative) {
        walk /= part;
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(walk, ec))) return false;
    }
    return true;
}

bool WriteEntry(zip_t* archive, const Entry& entry, const fs::path& path) {
    std::unique_ptr<zip_file_t, ZipFileCloser> in(zip_fopen_index(archive, entry.index, 0));
    if (!in) return false;
    fs::path partial = path;
    partial += ".part";
    std::error_code ec;
    fs::remove(partial, ec);  // a leftover, or a planted link: the link goes, not what it names
    ExclusiveFile out(partial);
    if (!out.ok()) return false;
    std::vector<char> buffer(64 * 1024);
    zip_uint64_t written = 0;
    bool ok = true;
    for (;;) {
        const zip_int64_t n = zip_fread(in.get(), buffer.data(), buffer.size());
        if (n < 0) ok = false;
        if (n <= 0) break;
        written += static_cast<zip_uint64_t>(n);
        if (written > entry.size ||
            !out.Write(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            ok = false;
            break;
        }
    }
    // The owner's bits only: the unpacked program is the merchant's, and no set-id bit survives.
    if (ok && entry.mode != 0) ok = out.SetMode(entry.mode & 0700);
    ok = out.Close() && ok && written == entry.size;
    if (ok) fs::rename(partial, path, ec);
    if (!ok || ec) {
        fs::remove(partial, ec);
        return false;
    }
    return true;
}

}  // namespace

UnpackResult UnpackPackage(const fs::path& archivePath, const fs::path& target, std::string* detail) {
    int error = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(
        zip_open(PathToUtf8(archivePath).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive) {
        Say(detail, "not a readable ZIP archive");
        return UnpackResult::Unreadable;
    }
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    std::vector<Entry> entries;
    zip_uint64_t total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const char* rawName = zip_get_name(archive.get(), index, ZIP_FL_ENC_RAW);
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (!rawName || zip_stat_index(archive.get(), index, ZIP_FL_ENC_RAW, &stat) != 0 ||
            !(stat.valid & ZIP_STAT_SIZE)) {
            Say(detail, "entry " + std::to_string(i) + " cannot be read");
            return UnpackResult::Unreadable;
        }
        const std::string name = rawName;
        if (!IsSafeEntryName(name)) {
            Say(detail, "unsafe entry name \"" + name + "\"");
            return UnpackResult::Refused;
        }
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        unsigned mode = 0;
        if (zip_file_get_external_attributes(archive.get(), index, 0, &system, &attributes) == 0 &&
            system == ZIP_OPSYS_UNIX) {
            const unsigned fileMode = attributes >> 16;
            const unsigned type = fileMode & S_IFMT;
            if (type != 0 && type != S_IFREG && type != S_IFDIR) {
                Say(detail, "entry \"" + name + "\" is a link or special file");
                return UnpackResult::Refused;
            }
            mode = fileMode & 07777;
        }
        total += stat.size;
        if (stat.size > kMaxUnpackedBytes || total > kMaxUnpackedBytes) {
            Say(detail, "the package unpacks to more than the allowed size");
            return UnpackResult::Refused;
        }
        if (!PathStaysInside(target, LocalPath(target, name))) {
            Say(detail, "entry \"" + name + "\" would be written through a link");
            return UnpackResult::Refused;
        }
        entries.push_back({index, name, name.back() == '/', stat.size, mode});
    }

    std::error_code ec;
    fs::create_directories(target, ec);
    for (const Entry& entry : entries) {
        const fs::path path = LocalPath(target, entry.name);
        if (entry.directory) {
            fs::create_directories(path, ec);
            if (ec) {
                Say(detail, "cannot create " + PathToUtf8(path));
                return UnpackResult::WriteFailed;
            }
            continue;
        }
        fs::create_directories(path.parent_path(), ec);
        if (!WriteEntry(archive.get(), entry, path)) {
            Say(detail, "cannot write " + PathToUtf8(path));
            return UnpackResult::WriteFailed;
        }
    }
    return UnpackResult::Ok;
}

std::string_view BuiltInUpdateKey() {
#ifdef TANDREL_UPDATE_PUBLIC_KEY
    return TANDREL_UPDATE_PUBLIC_KEY;
#else
    return {};
#endif
}

bool IsPackageTag(std::string_view tag) {
    if (tag.empty() || tag.size() > 64) return false;
    for (char c : tag) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '.' || c == '_' || c == '-';
        if (!plain) return false;
    }
    return true;
}

std::string FileSha256(const fs::path& path) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::ifstream in(path, std::ios::binary);
    if (!context || !in || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return {};
    std::vector<char> buffer(64 * 1024);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto n = static_cast<std::size_t>(in.gcount());
        if (n > 0 && EVP_DigestUpdate(context.get(), buffer.data(), n) != 1) return {};
    }
    if (in.bad()) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return {};
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 15];
    }
    return hex;
}

std::string SignedPackageMessage(std::string_view productCode, std::string_view tag, std::string_view version,
                                 std::string_view sha256Hex) {
    std::string message;
    for (std::string_view line : {productCode, tag, version, sha256Hex})
        message.append(line).append("\n");
    return message;
}

bool VerifyPackageSignature(const fs::path& package, std::string_view signatureBase64,
                            std::string_view publicKeyBase64, std::string_view productCode,
                            std::string_view tag, std::string_view version) {
    const std::string key = Base64Decode(publicKeyBase64);
    const std::string signature = Base64Decode(signatureBase64);
    if (key.size() != 32 || signature.size() != 64) return false;
    const std::string digest = FileSha256(package);
    if (digest.empty()) return false;
    const std::string message = SignedPackageMessage(productCode, tag, version, digest);

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key.data()), key.size()),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!pkey || !context) return false;
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

bool StartDetachedProgram(const fs::path& program, const fs::path& workingDir) {
    return QProcess::startDetached(QString::fromStdU16String(program.u16string()), {},
                                   QString::fromStdU16String(workingDir.u16string()));
}

}  // namespace tandrel
