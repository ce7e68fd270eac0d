#include "TFormInfo.h"

#include "Localise.h"
#include "common/Error.h"
#include "settings/TRegistry.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

TFormInfo::TFormInfo(QWidget *owner) : QObject(owner), FormName(owner->objectName()), m_owner(owner)
{
    setObjectName(QStringLiteral("FormInfo1"));
}

void TFormInfo::Loaded()
{
    if (AutoLoad)
        Load();
}

void TFormInfo::defaultValues()
{
    if (AppName.isEmpty())
        AppName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (FormName.isEmpty() && m_owner)
        FormName = m_owner->objectName();
    if (Company.isEmpty())
        Company = QStringLiteral("Vellmor Software");
}

QString TFormInfo::key() const
{
    return QStringLiteral("Software\\%1\\%2\\%3").arg(Company, AppName, FormName);
}

void TFormInfo::Load()
{
    defaultValues();
    if (!m_owner)
        return;
    TRegistry registry;
    if (!registry.OpenKey(key(), false))
        return;
    // A stored placement gives the window explicit bounds, whether or not they apply.
    if (recordSize && recordPosition)
        m_explicitBounds = true;
    QRect bounds = m_owner->frameGeometry();
    const auto strict = [&](const QString &name) -> std::optional<int> {
        const auto value = registry.value(name);
        if (!value || value->type != RegistryValue::Type::Dword)
            return std::nullopt;
        return qint32(value->number);
    };
    if (recordSize) {
        const auto width = strict(QStringLiteral("Width"));
        const auto height = width ? strict(QStringLiteral("Height")) : std::nullopt;
        if (!width || !height)
            return;
        bounds.setSize({*width, *height});
    }
    if (recordPosition) {
        const auto left = strict(QStringLiteral("Left"));
        const auto top = left ? strict(QStringLiteral("Top")) : std::nullopt;
        if (!left || !top)
            return;
        bounds.moveTo(*left, *top);
    }
    const QScreen *screen =
        m_owner->screen() ? m_owner->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->geometry() : QRect(0, 0, 1 << 16, 1 << 16);
    if (bounds.top() + bounds.height() > available.height() ||
        bounds.left() + bounds.width() > available.width())
        return;
    if (recordSize) {
        m_outerSize = bounds.size();
        fitOuterSize();
    }
    // A window's position is that of its frame.
    if (recordPosition)
        m_owner->move(bounds.topLeft());
    const auto state = strict(QStringLiteral("WindowState"));
    if (!state)
        return;
    if (*state == 0)
        m_owner->setWindowState(m_owner->windowState() | Qt::WindowMaximized);
    else
        m_owner->setWindowState(m_owner->windowState() &
                                ~(Qt::WindowMaximized | Qt::WindowMinimized));
}

void TFormInfo::fitOuterSize()
{
    if (!m_owner || !m_outerSize.isValid())
        return;
    // The stored size is the outer one, frame included, and a window is sized without
    // its frame; the frame is known once the window manager has framed the window.
    const QSize frame = m_owner->frameGeometry().size() - m_owner->size();
    const bool normal = !(m_owner->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized));
    if (normal || !m_owner->isVisible())
        m_owner->resize(m_outerSize - frame);
    if (m_owner->isVisible() && normal && !frame.isEmpty()) {
        m_outerSize = QSize();
        m_owner->removeEventFilter(this);
    } else {
        m_owner->installEventFilter(this);
    }
}

bool TFormInfo::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_owner) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            fitOuterSize();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TFormInfo::Save()
{
    TRegistry registry;
    registry.beginBatch();
    Save(registry);
    registry.commit();
}

void TFormInfo::Save(TRegistry &registry)
{
    defaultValues();
    if (!m_owner)
        return;
    if (!registry.OpenKey(key(), true))
        return;
    const bool normal = !(m_owner->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized));
    if (normal) {
        QRect bounds = m_owner->frameGeometry();
        // A restored size not fitted yet (the window was never framed) stays as it was.
        if (m_outerSize.isValid())
            bounds.setSize(m_outerSize);
        registry.WriteInteger(QStringLiteral("Width"), bounds.width());
        registry.WriteInteger(QStringLiteral("Height"), bounds.height());
        registry.WriteInteger(QStringLiteral("Left"), bounds.left());
        registry.WriteInteger(QStringLiteral("Top"), bounds.top());
    }
    registry.WriteInteger(QStringLiteral("WindowState"), normal ? 1 : 0);
}

TFormInfo *TFormInfo::prepare(QWidget *window, TStringLoader *loader, const QString &section,
                              const QString &appName, const QString &formName)
{
    if (loader) {
        try {
            LocaliseForm(*loader, section, window);
        } catch (const qb::Error &) {
            // Its design texts stay.
        }
    }
    auto *info = new TFormInfo(window);
    info->AppName = appName;
    info->FormName = formName;
    info->Loaded();
    return info;
}
