#include "HelpContexts.h"

#include <QAction>
#include <QMenu>
#include <QVariant>
#include <QWidget>

namespace {

constexpr char property[] = "helpContext";

// Windows made elsewhere, by their object names.
std::optional<int> contextOfWindowNamed(const QString &name)
{
    if (name == QLatin1String("TstatusForm"))
        return HelpContexts::statusWindow;
    if (name == QLatin1String("updateForm"))
        return HelpContexts::updateWindow;
    if (name == QLatin1String("imapAccountWindow"))
        return HelpContexts::imapAccountWindow;
    return std::nullopt;
}

std::optional<int> ownContext(const QObject *object)
{
    const int context = object->property(property).toInt();
    if (context > 0)
        return context;
    if (const auto *widget = qobject_cast<const QWidget *>(object); widget && widget->isWindow())
        return contextOfWindowNamed(object->objectName());
    return std::nullopt;
}

} // namespace

namespace HelpContexts {

QString keywordId(int context)
{
    return QStringLiteral("Quillbrook.context.%1").arg(context);
}

void set(QObject *object, int context)
{
    object->setProperty(property, context > 0 ? QVariant(context) : QVariant());
}

std::optional<int> of(const QObject *object)
{
    // A menu entry has its own context or none: entries of one menu differ.
    if (qobject_cast<const QAction *>(object))
        return ownContext(object);
    for (const QObject *at = object; at; at = at->parent()) {
        if (const auto context = ownContext(at))
            return context;
        if (const auto *widget = qobject_cast<const QWidget *>(at); widget && widget->isWindow())
            break;
    }
    return std::nullopt;
}

} // namespace HelpContexts
