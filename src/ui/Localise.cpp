#include "Localise.h"

#include "common/Error.h"
#include "lang/TStringLoader.h"

#include <QAbstractButton>
#include <QAction>
#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>

namespace {

const QString caption = QStringLiteral("Caption");
const QString title = QStringLiteral("Title");
const QString filter = QStringLiteral("Filter");
const QString hint = QStringLiteral("Hint");
const QString text = QStringLiteral("Text");

// Standard dialogs have a Title; other windows a Caption.
bool isStandardDialog(const QObject *object)
{
    return qobject_cast<const QFileDialog *>(object) ||
           qobject_cast<const QColorDialog *>(object) || qobject_cast<const QFontDialog *>(object);
}

// The tab widget showing page as one of its tabs, or null.
QTabWidget *tabsOf(QWidget *page)
{
    auto *stack = qobject_cast<QStackedWidget *>(page->parentWidget());
    return stack ? qobject_cast<QTabWidget *>(stack->parentWidget()) : nullptr;
}

// Reads (value null) or writes one translatable property; false when the object has none.
bool accessText(QObject *object, const QString &property, QString *read, const QString *write)
{
    auto *widget = qobject_cast<QWidget *>(object);
    auto *action = qobject_cast<QAction *>(object);
    const auto use = [&](auto getter, auto setter) {
        if (write)
            setter(*write);
        else
            *read = getter();
        return true;
    };
    if (property == caption) {
        if (action)
            return use([&] { return action->text(); },
                       [&](const QString &v) { action->setText(v); });
        if (auto *button = qobject_cast<QAbstractButton *>(object))
            return use([&] { return button->text(); },
                       [&](const QString &v) { button->setText(v); });
        if (auto *label = qobject_cast<QLabel *>(object))
            return use([&] { return label->text(); }, [&](const QString &v) { label->setText(v); });
        if (auto *group = qobject_cast<QGroupBox *>(object))
            return use([&] { return group->title(); },
                       [&](const QString &v) { group->setTitle(v); });
        if (auto *menu = qobject_cast<QMenu *>(object))
            return use([&] { return menu->title(); }, [&](const QString &v) { menu->setTitle(v); });
        if (widget && widget->isWindow() && !isStandardDialog(widget))
            return use([&] { return widget->windowTitle(); },
                       [&](const QString &v) { widget->setWindowTitle(v); });
        if (QTabWidget *tabs = widget ? tabsOf(widget) : nullptr) {
            const int index = tabs->indexOf(widget);
            return use([&] { return tabs->tabText(index); },
                       [&](const QString &v) { tabs->setTabText(index, v); });
        }
        return false;
    }
    if (property == title) {
        if (!isStandardDialog(object))
            return false;
        return use([&] { return widget->windowTitle(); },
                   [&](const QString &v) { widget->setWindowTitle(v); });
    }
    if (property == filter) {
        auto *dialog = qobject_cast<QFileDialog *>(object);
        if (!dialog)
            return false;
        return use(
            [&] { return dialog->nameFilters().join(QStringLiteral(";;")); },
            [&](const QString &v) { dialog->setNameFilters(v.split(QStringLiteral(";;"))); });
    }
    if (property == hint) {
        // The status tip holds the hint: an action's tool tip defaults to its text.
        if (action)
            return use([&] { return action->statusTip(); },
                       [&](const QString &v) {
                           action->setStatusTip(v);
                           action->setToolTip(v);
                       });
        if (widget)
            return use(
                [&] {
                    return widget->statusTip().isEmpty() ? widget->toolTip() : widget->statusTip();
                },
                [&](const QString &v) {
                    widget->setStatusTip(v);
                    widget->setToolTip(v);
                });
        return false;
    }
    if (property == text) {
        if (auto *edit = qobject_cast<QLineEdit *>(object))
            return use([&] { return edit->text(); }, [&](const QString &v) { edit->setText(v); });
    }
    return false;
}

} // namespace

QString LocalisedText(TStringLoader *loader, const QString &section, const char *name,
                      const QString &builtIn)
{
    if (!loader)
        return builtIn;
    try {
        return loader->componentText(section, QLatin1String(name), QStringLiteral("Caption"),
                                     builtIn);
    } catch (const qb::Error &) {
        return builtIn;
    }
}

void LocaliseProperty(TStringLoader &loader, const QString &section, QObject *component,
                      const QString &propertyName)
{
    QString current;
    if (!accessText(component, propertyName, &current, nullptr))
        return;
    if (current.isEmpty() && propertyName != hint)
        return;
    const QString localised =
        loader.componentText(section, component->objectName(), propertyName, current);
    if (localised != current)
        accessText(component, propertyName, nullptr, &localised);
}

void LocaliseComponent(TStringLoader &loader, const QString &section, QObject *component)
{
    if (component->objectName().startsWith(QLatin1String("qt_"))) {
        // Qt's own parts of a widget have no texts of ours but may hold our controls.
        for (QObject *child : component->children())
            LocaliseComponent(loader, section, child);
        return;
    }
    if (qobject_cast<QToolButton *>(component) || qobject_cast<QAction *>(component)) {
        LocaliseProperty(loader, section, component, caption);
        LocaliseProperty(loader, section, component, hint);
        return;
    }
    if (qobject_cast<QLabel *>(component)) {
        LocaliseProperty(loader, section, component, caption);
        return;
    }
    for (const QString &property : {caption, title, filter, hint, text})
        LocaliseProperty(loader, section, component, property);
    // A standard dialog's widgets are Qt's own, which Qt translates: only its title and
    // filter are the program's.
    if (isStandardDialog(component))
        return;
    // A menu's own action carries the menu's title, which the menu itself has had.
    auto *menu = qobject_cast<QMenu *>(component);
    for (QObject *child : component->children()) {
        if (!menu || child != menu->menuAction())
            LocaliseComponent(loader, section, child);
    }
}

void LocaliseForm(TStringLoader &loader, const QString &section, QWidget *form)
{
    LocaliseComponent(loader, section, form);
}
