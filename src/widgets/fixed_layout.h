#pragma once
// Windows of this program are fixed layouts of named controls; tests find the controls by those names.

#include <QRect>
#include <QString>

namespace tandrel {

template <typename Widget>
Widget* Place(Widget* widget, const char* name, const QRect& geometry) {
    widget->setObjectName(QString::fromUtf8(name));
    widget->setGeometry(geometry);
    return widget;
}

}  // namespace tandrel
