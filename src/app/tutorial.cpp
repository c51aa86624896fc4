#include "app/tutorial.h"

#include <QFile>
#include <QStandardPaths>

#include "support/files.h"
#include "support/qt_text.h"

namespace tandrel {

QUrl LocalTutorialUrl() {
    // In the user's own cache folder: a fixed name in the shared temporary folder could be taken first by
    // another account, and the browser would show their page instead.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (folder.isEmpty()) folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    const std::filesystem::path dir = PathFromQString(folder);
    const std::filesystem::path path = dir / "tutorial.html";
    QFile source(QStringLiteral(":/tutorial/tutorial.html"));
    if (MakePrivateFolders(dir) && source.open(QIODevice::ReadOnly)) {
        const QByteArray page = source.readAll();
        WriteFileAtomically(path, std::string_view(page.constData(), static_cast<std::size_t>(page.size())));
    }
    return QUrl::fromLocalFile(PathToQString(path));
}

}  // namespace tandrel
