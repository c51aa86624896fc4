#pragma once
// The edge between the program's GBK texts and Qt's strings.

#include <QString>
#include <string>

#include "support/text.h"

namespace tandrel {

inline QString FromGbk(const std::string& text) {
    return QString::fromStdString(GbkToUtf8(text));
}
inline std::string ToGbk(const QString& text) {
    return Utf8ToGbk(text.toStdString());
}

}  // namespace tandrel
