#pragma once
// The update package on disk: its signature, and unpacking it safely. A package arrives over plain HTTP, so
// nothing in it is trusted: every entry is checked before the first byte is written, and a package is used
// only when the version record carries a valid signature of it for this product, tag and version under the
// public key built in.

#include <filesystem>
#include <string>
#include <string_view>

#include "update/entry_name.h"

namespace tandrel {

enum class UnpackResult {
    Ok,
    Unreadable,   // not a ZIP archive, or damaged
    Refused,      // an unsafe entry (name, symbolic link, special file, size): nothing was written
    WriteFailed,  // the target could not take a file
};

// Unpacks archive into target (created when missing), overwriting existing files. Entries are checked first;
// one unsafe entry refuses the whole package. Each file is written to a temporary created exclusively and
// never through a link. Unix permissions in the archive are kept (without set-id bits or write access for
// group and others), so the updater program arrives executable; files without them are the user's alone.
// detail, when given, names the offending entry or the failure.
UnpackResult UnpackPackage(const std::filesystem::path& archive, const std::filesystem::path& target,
                           std::string* detail = nullptr);

// The Ed25519 public key built into the program (Base64 of the 32 raw bytes); empty when none was given at
// build time, and the program then never updates itself.
std::string_view BuiltInUpdateKey();

// A package tag (field 2) becomes part of a file name: only [A-Za-z0-9._-], 1 to 64 of them.
bool IsPackageTag(std::string_view tag);

// The SHA-256 of a file's bytes in lower-case hex; empty when the file cannot be read.
std::string FileSha256(const std::filesystem::path& path);

// What a release's signature covers, one line each: the product code, the tag (field 2), the version
// (field 1) and the package's SHA-256 in lower-case hex. A package signed for another version, tag or
// product is refused.
std::string SignedPackageMessage(std::string_view productCode, std::string_view tag, std::string_view version,
                                 std::string_view sha256Hex);

// True when signatureBase64 is a valid Ed25519 signature, under publicKeyBase64, of the message for this
// package's bytes and the given product, tag and version.
bool VerifyPackageSignature(const std::filesystem::path& package, std::string_view signatureBase64,
                            std::string_view publicKeyBase64, std::string_view productCode,
                            std::string_view tag, std::string_view version);

// Starts a program without waiting for it, in workingDir; false when it could not be started.
bool StartDetachedProgram(const std::filesystem::path& program, const std::filesystem::path& workingDir);

}  // namespace tandrel
