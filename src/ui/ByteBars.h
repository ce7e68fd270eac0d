#pragma once

#include "processing/AttachmentFilter.h"

#include <QWidget>

#include <optional>
#include <vector>

// Horizontal bars, one row each: a name (elided to fit), a bar as long as its share of the
// largest and a size text after it. A bar with a filter can be chosen by a click, or with
// the arrow keys and Enter or Space; choosing it emits filterChosen. Rows keep one height,
// so the widget asks for as much height as its rows take and a scroll area around it scrolls.
class ByteBars : public QWidget
{
    Q_OBJECT
public:
    struct Bar
    {
        QString name;
        qint64 bytes = 0;
        QString sizeText;
        QString toolTip;
        std::optional<AttachmentFilter> filter; // none: the bar cannot be chosen
    };

    explicit ByteBars(QWidget *parent = nullptr);

    void setBars(std::vector<Bar> bars);
    const std::vector<Bar> &bars() const { return m_bars; }

    // The row at a point of the widget, or -1; the rectangle a row takes.
    int rowAt(const QPoint &point) const;
    QRect rowRect(int row) const;
    // The row the keys act on, or -1.
    int currentRow() const { return m_current; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void filterChosen(const AttachmentFilter &filter);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    bool event(QEvent *event) override;

private:
    int rowHeight() const;
    void setCurrent(int row);
    void setHovered(int row);
    void choose(int row);

    std::vector<Bar> m_bars;
    int m_current = -1;
    int m_hovered = -1;
    int m_pressed = -1;
};
