// The backup file's format: plain C++ and OpenSSL's libcrypto, so the fuzz targets can take it alone.
#include "stores/store_backup.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <memory>

namespace tandrel {
namespace {

constexpr std::string_view kMagic = "TNDRLBAK";
constexpr std::uint16_t kVersion = 1;
constexpr std::uint8_t kScrypt = 1;
constexpr std::size_t kSaltBytes = 16, kNonceBytes = 12, kTagBytes = 16, kKeyBytes = 32;
constexpr std::size_t kHeaderBytes = 8 + 2 + 1 + 1 + 4 + 4 + kSaltBytes + kNonceBytes + 4;
// What a file may ask the key derivation for: scrypt needs 128 · r · N bytes.
constexpr int kMaxLog2N = 20;
constexpr std::uint64_t kMaxKdfMemory = 256u << 20;
constexpr std::uint32_t kMaxParallel = 4;

// Each field the backup carries, by its tag. Only the store's own: the original program's other fields stay
// on the computer they were made on.
struct Field {
    std::uint8_t tag;
    std::string StoreRecord::*field;
};
constexpr Field kFields[] = {
    {1, &StoreRecord::account},   {2, &StoreRecord::password}, {3, &StoreRecord::storeId},
    {4, &StoreRecord::storeName}, {5, &StoreRecord::session},
};

void PutU32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

// Reads from the front of a text, never past its end.
struct Reader {
    std::string_view rest;
    bool ok = true;

    std::string_view Take(std::size_t n) {
        if (!ok || rest.size() < n) {
            ok = false;
            return {};
        }
        const std::string_view taken = rest.substr(0, n);
        rest.remove_prefix(n);
        return taken;
    }
    std::uint32_t U(std::size_t bytes) {
        std::uint32_t value = 0;
        for (const char c : Take(bytes))
            value = (value << 8) | static_cast<unsigned char>(c);
        return value;
    }
};

bool DeriveKey(std::string_view passphrase, std::string_view salt, const BackupKdf& kdf,
               std::array<unsigned char, kKeyBytes>& key) {
    const std::uint64_t n = std::uint64_t{1} << kdf.log2N;
    return EVP_PBE_scrypt(passphrase.data(), passphrase.size(),
                          reinterpret_cast<const unsigned char*>(salt.data()), salt.size(), n, kdf.r, kdf.p,
                          kMaxKdfMemory + (16u << 20), key.data(), key.size()) == 1;
}

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

const unsigned char* Bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

std::size_t PassphraseLength(std::string_view utf8) {
    std::size_t characters = 0;
    for (const char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
    return characters;
}

std::string EncodeBackupRecords(const std::vector<StoreRecord>& records) {
    std::string out;
    PutU32(out, static_cast<std::uint32_t>(records.size()));
    for (const StoreRecord& record : records) {
        out.push_back(static_cast<char>(std::size(kFields)));
        for (const Field& field : kFields) {
            const std::string& value = record.*field.field;
            out.push_back(static_cast<char>(field.tag));
            PutU32(out, static_cast<std::uint32_t>(value.size()));
            out += value;
        }
    }
    return out;
}

bool DecodeBackupRecords(std::string_view plain, std::vector<StoreRecord>& records) {
    Reader in{plain};
    const std::uint32_t count = in.U(4);
    std::vector<StoreRecord> decoded;
    for (std::uint32_t i = 0; in.ok && i < count; ++i) {
        StoreRecord record;
        const std::uint32_t fields = in.U(1);
        for (std::uint32_t f = 0; in.ok && f < fields; ++f) {
            const std::uint32_t tag = in.U(1);
            const std::string_view value = in.Take(in.U(4));
            for (const Field& field : kFields)
                if (field.tag == tag) record.*field.field = std::string(value);
        }
        if (!in.ok || record.storeId.empty()) return false;
        decoded.push_back(std::move(record));
    }
    if (!in.ok || !in.rest.empty()) return false;
    records = std::move(decoded);
    return true;
}

bool ParseStoreBackup(std::string_view bytes, BackupEnvelope& envelope, std::string& error) {
    Reader in{bytes};
    if (bytes.size() > kBackupMaxBytes || in.Take(kMagic.size()) != kMagic) {
        error = "不是店铺备份文件";
        return false;
    }
    BackupEnvelope e;
    e.version = static_cast<std::uint16_t>(in.U(2));
    if (in.ok && e.version > kVersion) {
        error = "备份文件来自更新的版本，请先更新本程序";
        return false;
    }
    const std::uint32_t kdfKind = in.U(1);
    e.kdf.log2N = static_cast<int>(in.U(1));
    e.kdf.r = in.U(4);
    e.kdf.p = in.U(4);
    e.salt = in.Take(kSaltBytes);
    e.nonce = in.Take(kNonceBytes);
    const std::uint32_t sealedBytes = in.U(4);
    e.header = bytes.substr(0, kHeaderBytes);
    e.sealed = in.Take(sealedBytes);
    e.tag = in.Take(kTagBytes);
    if (!in.ok || !in.rest.empty() || e.version == 0) {
        error = "备份文件不完整或已损坏";
        return false;
    }
    const bool boundedKdf =
        kdfKind == kScrypt && e.kdf.log2N >= 1 && e.kdf.log2N <= kMaxLog2N && e.kdf.r >= 1 && e.kdf.p >= 1 &&
        e.kdf.p <= kMaxParallel &&
        128u * std::uint64_t{e.kdf.r} * (std::uint64_t{1} << e.kdf.log2N) <= kMaxKdfMemory &&
        128u * std::uint64_t{e.kdf.r} * e.kdf.p <= kMaxKdfMemory;
    if (!boundedKdf) {
        error = "备份文件的密钥参数无法使用，文件已损坏";
        return false;
    }
    envelope = e;
    return true;
}

std::string SealStoreBackup(const std::vector<StoreRecord>& records, std::string_view passphrase,
                            const BackupKdf& kdf) {
    std::array<unsigned char, kSaltBytes> salt{};
    std::array<unsigned char, kNonceBytes> nonce{};
    std::array<unsigned char, kKeyBytes> key{};
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1 ||
        RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1)
        return {};
    const std::string_view saltText(reinterpret_cast<const char*>(salt.data()), salt.size());
    if (!DeriveKey(passphrase, saltText, kdf, key)) return {};
    const std::string plain = EncodeBackupRecords(records);

    std::string out(kMagic);
    out.push_back(static_cast<char>(kVersion >> 8));
    out.push_back(static_cast<char>(kVersion & 0xFF));
    out.push_back(static_cast<char>(kScrypt));
    out.push_back(static_cast<char>(kdf.log2N));
    PutU32(out, kdf.r);
    PutU32(out, kdf.p);
    out.append(saltText);
    out.append(reinterpret_cast<const char*>(nonce.data()), nonce.size());
    PutU32(out, static_cast<std::uint32_t>(plain.size()));
    const std::size_t header = out.size();

    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    out.resize(header + plain.size() + kTagBytes);
    auto* sealed = reinterpret_cast<unsigned char*>(out.data() + header);
    int written = 0, last = 0;
    const bool ok =
        context &&
        EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()) == 1 &&
        EVP_EncryptUpdate(context.get(), nullptr, &written, Bytes(out), static_cast<int>(header)) == 1 &&
        EVP_EncryptUpdate(context.get(), sealed, &written, Bytes(plain), static_cast<int>(plain.size())) ==
            1 &&
        EVP_EncryptFinal_ex(context.get(), sealed + written, &last) == 1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagBytes),
                            sealed + plain.size()) == 1;
    return ok && static_cast<std::size_t>(written + last) == plain.size() ? out : std::string();
}

bool OpenStoreBackup(std::string_view bytes, std::string_view passphrase, std::vector<StoreRecord>& records,
                     std::string& error) {
    BackupEnvelope e;
    if (!ParseStoreBackup(bytes, e, error)) return false;
    std::array<unsigned char, kKeyBytes> key{};
    if (!DeriveKey(passphrase, e.salt, e.kdf, key)) {
        error = "备份文件的密钥参数无法使用，文件已损坏";
        return false;
    }
    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    std::string plain(e.sealed.size(), '\0');
    int written = 0, last = 0;
    std::array<unsigned char, kTagBytes> tag{};
    std::copy(e.tag.begin(), e.tag.end(), tag.begin());
    const bool opened =
        context &&
        EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), Bytes(e.nonce)) == 1 &&
        EVP_DecryptUpdate(context.get(), nullptr, &written, Bytes(e.header),
                          static_cast<int>(e.header.size())) == 1 &&
        EVP_DecryptUpdate(context.get(), reinterpret_cast<unsigned char*>(plain.data()), &written,
                          Bytes(e.sealed), static_cast<int>(e.sealed.size())) == 1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagBytes), tag.data()) ==
            1 &&
        EVP_DecryptFinal_ex(context.get(), reinterpret_cast<unsigned char*>(plain.data()) + written, &last) ==
            1;
    if (!opened) {
        error = "口令不对，或备份文件已损坏";
        return false;
    }
    if (!DecodeBackupRecords(plain, records)) {
        error = "备份文件已损坏";
        return false;
    }
    return true;
}

}  // namespace tandrel
