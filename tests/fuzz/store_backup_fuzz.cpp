// A backup file as it may arrive from another computer, a mail attachment or a damaged disk: its envelope
// either parses into parts that lie inside the bytes, in order, or is refused with a reason; the records'
// encoding either decodes into stores that each have an id and encode back to the same stores, or changes
// nothing. The passphrase's key is not derived here: a crafted file's scrypt cost is bounded by the parser.
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "stores/store_backup.h"

namespace {

bool Inside(std::string_view part, std::string_view whole) {
    return part.empty() ||
           (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

bool Same(const std::vector<tandrel::StoreRecord>& a, const std::vector<tandrel::StoreRecord>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].account != b[i].account || a[i].password != b[i].password || a[i].storeId != b[i].storeId ||
            a[i].storeName != b[i].storeName || a[i].session != b[i].session)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = tandrel::fuzz::Bytes(data, size);

    tandrel::BackupEnvelope envelope;
    std::string error;
    if (tandrel::ParseStoreBackup(bytes, envelope, error)) {
        for (const std::string_view part :
             {envelope.salt, envelope.nonce, envelope.header, envelope.sealed, envelope.tag})
            if (!Inside(part, bytes)) __builtin_trap();
        if (envelope.header.data() != bytes.data()) __builtin_trap();
        // What the key's derivation may cost is bounded whatever the file asks.
        const auto& kdf = envelope.kdf;
        if (kdf.log2N < 1 || kdf.log2N > 20 || kdf.r < 1 || kdf.p < 1 || kdf.p > 4 ||
            128u * std::uint64_t{kdf.r} * (std::uint64_t{1} << kdf.log2N) > (256u << 20))
            __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();  // a refusal always says why
    }

    std::vector<tandrel::StoreRecord> records{{.account = "kept", .storeId = "1"}};
    const std::vector<tandrel::StoreRecord> before = records;
    if (tandrel::DecodeBackupRecords(bytes, records)) {
        for (const auto& record : records)
            if (record.storeId.empty()) __builtin_trap();
        std::vector<tandrel::StoreRecord> again;
        if (!tandrel::DecodeBackupRecords(tandrel::EncodeBackupRecords(records), again) ||
            !Same(records, again))
            __builtin_trap();
    } else if (!Same(records, before)) {
        __builtin_trap();  // a refused encoding leaves the records as they were
    }
    return 0;
}
