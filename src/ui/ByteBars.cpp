#include "ByteBars.h"

#include "PlainText.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolTip>

#include <algorithm>

namespace {

constexpr int margin = 4;
constexpr int gap = 8;

} // namespace

ByteBars::ByteBars(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ByteBars::setBars(std::vector<Bar> bars)
{
    m_bars = std::move(bars);
    m_hovered = m_pressed = -1;
    m_current = m_bars.empty() ? -1 : std::clamp(m_current, 0, int(m_bars.size()) - 1);
    unsetCursor();
    updateGeometry();
    update();
}

int ByteBars::rowHeight() const
{
    return fontMetrics().height() + 8;
}

QRect ByteBars::rowRect(int row) const
{
    return QRect(0, row * rowHeight(), width(), rowHeight());
}

int ByteBars::rowAt(const QPoint &point) const
{
    if (point.x() < 0 || point.x() >= width() || point.y() < 0)
        return -1;
    const int row = point.y() / rowHeight();
    return row < int(m_bars.size()) ? row : -1;
}

QSize ByteBars::sizeHint() const
{
    return QSize(fontMetrics().averageCharWidth() * 40, rowHeight() * int(m_bars.size()));
}

QSize ByteBars::minimumSizeHint() const
{
    // Room for a short name, a short bar and a size; the rows' full height, for the scroll area.
    return QSize(fontMetrics().averageCharWidth() * 24, rowHeight() * int(m_bars.size()));
}

void ByteBars::paintEvent(QPaintEvent *)
{
    if (m_bars.empty())
        return;
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    int nameWidth = 0;
    int sizeWidth = 0;
    qint64 largest = 1;
    for (const Bar &bar : m_bars) {
        // A pixel to spare: elidedText measures glyph by glyph and may find a name a hair
        // wider than its advance.
        nameWidth = std::max(nameWidth, metrics.horizontalAdvance(bar.name) + 2);
        sizeWidth = std::max(sizeWidth, metrics.horizontalAdvance(bar.sizeText));
        largest = std::max(largest, bar.bytes);
    }
    // Long names give way to the bars: at most two fifths of the width.
    nameWidth = std::min(nameWidth, (width() - 2 * margin) * 2 / 5);
    const int barLeft = margin + nameWidth + gap;
    const int barRoom = std::max(0, width() - barLeft - gap - sizeWidth - margin);

    const QPalette &colours = palette();
    for (int row = 0; row < int(m_bars.size()); ++row) {
        const Bar &bar = m_bars[size_t(row)];
        const QRect line = rowRect(row);
        const bool chosen = bar.filter.has_value();
        const QRect nameBox(margin, line.top(), nameWidth, line.height());
        painter.setPen(colours.color(chosen ? QPalette::WindowText : QPalette::PlaceholderText));
        painter.drawText(nameBox, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(bar.name, Qt::ElideMiddle, nameWidth));

        const int length =
            bar.bytes > 0 ? std::max(2, int(double(barRoom) * double(bar.bytes) / double(largest)))
                          : 0;
        const QRect barBox(barLeft, line.top() + 3, length, line.height() - 6);
        QColor fill = chosen ? colours.color(QPalette::Highlight) : colours.color(QPalette::Mid);
        if (chosen && (row == m_hovered || (row == m_current && hasFocus())))
            fill = fill.lighter(125);
        painter.fillRect(barBox, fill);

        painter.setPen(colours.color(QPalette::WindowText));
        painter.drawText(
            QRect(barLeft + length + gap, line.top(), sizeWidth + margin, line.height()),
            Qt::AlignLeft | Qt::AlignVCenter, bar.sizeText);

        if (row == m_current && hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = line.adjusted(1, 1, -1, -1);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
}

void ByteBars::setHovered(int row)
{
    if (row == m_hovered)
        return;
    m_hovered = row;
    const bool chosen = row >= 0 && m_bars[size_t(row)].filter.has_value();
    if (chosen)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
    update();
}

void ByteBars::mouseMoveEvent(QMouseEvent *event)
{
    setHovered(rowAt(event->position().toPoint()));
}

void ByteBars::leaveEvent(QEvent *)
{
    setHovered(-1);
}

void ByteBars::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton ? rowAt(event->position().toPoint()) : -1;
    if (m_pressed >= 0)
        setCurrent(m_pressed);
}

void ByteBars::mouseReleaseEvent(QMouseEvent *event)
{
    // A press that slid off its bar chooses nothing, as with buttons.
    const int pressed = m_pressed;
    m_pressed = -1;
    if (event->button() == Qt::LeftButton && pressed >= 0 &&
        rowAt(event->position().toPoint()) == pressed)
        choose(pressed);
}

void ByteBars::keyPressEvent(QKeyEvent *event)
{
    const int last = int(m_bars.size()) - 1;
    switch (event->key()) {
    case Qt::Key_Up:
        setCurrent(std::max(0, m_current - 1));
        break;
    case Qt::Key_Down:
        setCurrent(std::min(last, m_current + 1));
        break;
    case Qt::Key_Home:
        setCurrent(0);
        break;
    case Qt::Key_End:
        setCurrent(last);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        choose(m_current);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ByteBars::focusInEvent(QFocusEvent *event)
{
    if (m_current < 0 && !m_bars.empty())
        m_current = 0;
    QWidget::focusInEvent(event);
    update();
}

bool ByteBars::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const int row = rowAt(help->pos());
        if (row >= 0)
            QToolTip::showText(help->globalPos(), plainToolTip(m_bars[size_t(row)].toolTip), this,
                               rowRect(row));
        else
            QToolTip::hideText();
        return true;
    }
    if (event->type() == QEvent::FocusOut)
        update();
    return QWidget::event(event);
}

void ByteBars::setCurrent(int row)
{
    if (row < 0 || row >= int(m_bars.size()))
        return;
    m_current = row;
    // The current row stays in sight when the page scrolls.
    for (QWidget *at = parentWidget(); at; at = at->parentWidget()) {
        if (auto *scroll = qobject_cast<QScrollArea *>(at)) {
            const QPoint centre = mapTo(scroll->widget(), QPoint(0, rowRect(row).center().y()));
            scroll->ensureVisible(centre.x(), centre.y(), 0, rowHeight());
            break;
        }
    }
    update();
}

void ByteBars::choose(int row)
{
    if (row < 0 || row >= int(m_bars.size()) || !m_bars[size_t(row)].filter)
        return;
    Q_EMIT filterChosen(*m_bars[size_t(row)].filter);
}
