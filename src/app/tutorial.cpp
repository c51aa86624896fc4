#include "app/tutorial.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace tandrel {

QUrl LocalTutorialUrl() {
    const QString path = QDir(QDir::tempPath()).filePath(QStringLiteral("tandrel-tutorial.html"));
    QFile source(QStringLiteral(":/tutorial/tutorial.html"));
    if (source.open(QIODevice::ReadOnly)) {
        QSaveFile target(path);
        if (target.open(QIODevice::WriteOnly)) {
            target.write(source.readAll());
            target.commit();
        }
    }
    return QUrl::fromLocalFile(path);
}

}  // namespace tandrel
