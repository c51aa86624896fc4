#pragma once
// The update package on disk: its signature, and unpacking it safely. A package arrives over plain HTTP, so
// nothing in it is trusted: every entry is checked before the first byte is written, and with a public key
// built in, a package is used only when the version record carries a valid signature of it.

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
// one unsafe entry refuses the whole package. Unix permissions in the archive are kept (without set-id bits
// or write access for others), so the updater program arrives executable. detail, when given, names the
// offending entry or the failure.
UnpackResult UnpackPackage(const std::filesystem::path& archive, const std::filesystem::path& target,
                           std::string* detail = nullptr);

// The Ed25519 public key built into the program (Base64 of the 32 raw bytes); empty when none was given at
// build time, and packages are then used unsigned.
std::string_view BuiltInUpdateKey();

// True when signatureBase64 is a valid Ed25519 signature of the whole file under publicKeyBase64.
bool VerifyPackageSignature(const std::filesystem::path& package, std::string_view signatureBase64,
                            std::string_view publicKeyBase64);

// Starts a program without waiting for it, in workingDir; false when it could not be started.
bool StartDetachedProgram(const std::filesystem::path& program, const std::filesystem::path& workingDir);

}  // namespace tandrel
