#pragma once
// The edge between the program's GBK texts and Qt's strings.

#include <QString>
#include <filesystem>
#include <string>

#include "support/text.h"

namespace tandrel {

inline QString FromGbk(const std::string& text) {
    return QString::fromStdString(GbkToUtf8(text));
}
inline std::string ToGbk(const QString& text) {
    return Utf8ToGbk(text.toStdString());
}

// Paths come from Qt and go back to it as UTF-16: a narrow string would be read in the local code page on
// Windows, and a folder with Chinese characters would not be found.
inline std::filesystem::path PathFromQString(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}
inline QString PathToQString(const std::filesystem::path& path) {
    return QString::fromStdU16String(path.u16string());
}

}  // namespace tandrel
