#include "FolderPath.h"

namespace mailstore {

std::shared_ptr<Folder> folderAtPath(Namespace &mapi, const QString &path)
{
    QStringList names = path.split(QLatin1Char('\\'));
    if (!names.isEmpty() && names.last().isEmpty())
        names.removeLast(); // a trailing "\" names the same folder
    if (names.isEmpty() || names.takeFirst() != QLatin1String(folderTreeRoot) || names.isEmpty())
        return nullptr;
    std::shared_ptr<Folder> found;
    std::shared_ptr<Folders> candidates = mapi.folders();
    for (const QString &name : names) {
        found = nullptr;
        const int count = candidates->count();
        for (int i = 1; i <= count && !found; ++i) {
            auto folder = candidates->item(i);
            if (folder->defaultItemType() == MailItemType && folder->name() == name)
                found = folder;
        }
        if (!found)
            return nullptr;
        candidates = found->folders();
    }
    return found;
}

} // namespace mailstore
