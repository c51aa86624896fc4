#pragma once
// A backup of the stores that moves to another computer: every store's account, password, id, name and
// session, encrypted under a key derived from a passphrase the merchant chooses, since the store file of an
// installed copy is keyed through this computer's keyring and cannot move itself.
//
// The file (integers big-endian): magic "TNDRLBAK", format version (2 bytes), key derivation (1 byte, 1 =
// scrypt), log2 N (1), r (4), p (4), salt (16), nonce (12), length of the sealed records (4), the sealed
// records (AES-256-GCM, the header before them authenticated with them), the tag (16). The records: their
// count (4), then for each its number of fields (1) and each field as tag (1), length (4) and bytes; tags
// this version does not know are skipped, so a later version can add fields.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "stores/store_file.h"

namespace tandrel {

// The passphrase's cost to guess: scrypt's parameters. Written with the defaults; read with whatever the file
// says, within bounds, so that a crafted file cannot ask for gigabytes or hours.
struct BackupKdf {
    int log2N = 15;  // 32 MiB with r = 8
    std::uint32_t r = 8;
    std::uint32_t p = 1;
};

inline constexpr std::size_t kBackupMaxBytes = 16u << 20;
inline constexpr std::size_t kBackupMinPassphrase = 8;  // characters

// The parts of a backup file before decryption. False when bytes are not a backup this version can read
// (error says which way, UTF-8).
struct BackupEnvelope {
    std::uint16_t version = 0;
    BackupKdf kdf;
    std::string_view salt, nonce, header, sealed, tag;  // header: every byte before sealed
};
bool ParseStoreBackup(std::string_view bytes, BackupEnvelope& envelope, std::string& error);

// The records' own encoding, after decryption; false (records unchanged) on anything malformed, or a record
// without a store id.
std::string EncodeBackupRecords(const std::vector<StoreRecord>& records);
bool DecodeBackupRecords(std::string_view plain, std::vector<StoreRecord>& records);

// The whole file for records; empty when the encryption itself failed.
std::string SealStoreBackup(const std::vector<StoreRecord>& records, std::string_view passphrase,
                            const BackupKdf& kdf = {});
// The records of a backup file; false with error (UTF-8) for a file that is not a backup, a wrong passphrase
// or a damaged file (the two cannot be told apart).
bool OpenStoreBackup(std::string_view bytes, std::string_view passphrase, std::vector<StoreRecord>& records,
                     std::string& error);

// The passphrase's length in characters (UTF-8); a passphrase shorter than kBackupMinPassphrase is refused.
std::size_t PassphraseLength(std::string_view utf8);

// The file operations, for the store commands and the window. Each returns an empty string when done, or the
// reason (UTF-8) when nothing was done.
struct BackupCounts {
    int stores = 0, added = 0, updated = 0;
};
// Writes every store of the file to backup (private, atomically, never through a link at its name).
std::string ExportStoreBackup(StoreFile& file, const std::filesystem::path& backup,
                              std::string_view passphrase, BackupCounts& counts, const BackupKdf& kdf = {});
// Adds the backup's stores to the file, or updates the one with the same store id, all in one transaction.
std::string ImportStoreBackup(StoreFile& file, const std::filesystem::path& backup,
                              std::string_view passphrase, BackupCounts& counts);

}  // namespace tandrel
