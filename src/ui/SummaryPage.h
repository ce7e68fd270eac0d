#pragma once

#include "common/Format.h"
#include "processing/AttachmentFilter.h"
#include "processing/AttachmentTotals.h"

#include <QString>
#include <QWidget>

class AttachmentList;
class ByteBars;
class QLabel;
class QScrollArea;
class TStringLoader;

// The main window's summary page: where the attachment bytes of the list are, by folder,
// by type, by sender and by year, as bars of the largest groups with the rest folded into
// one. It counts the whole list as the last syncRows found it, whatever rows the grid's
// filter shows; a page that is hidden adds up when it shows. Choosing a bar emits the
// filter of that bar's rows.
class SummaryPage : public QWidget
{
    Q_OBJECT
public:
    // The section of the texts the page makes as it fills (its fixed captions are
    // localised with the window that holds it).
    static constexpr QLatin1String languageSection{"TSummary"};
    // Bars per chart, the folded rest included.
    static constexpr int barLimit = 8;

    SummaryPage(const AttachmentList *list, TStringLoader *loader, QWidget *parent = nullptr);

    // The list's entries now are the rows to count, as for the grid's syncGridRows: an
    // analysis fills the list unseen until its end.
    void syncRows();
    // Reads the rows and draws the charts now.
    void refresh();

    QLabel *totalText;
    QLabel *emptyNote;
    ByteBars *folderBars;
    ByteBars *typeBars;
    ByteBars *senderBars;
    ByteBars *yearBars;

Q_SIGNALS:
    void filterChosen(const AttachmentFilter &filter);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fill(ByteBars *bars, const DimensionTotals &totals, qint64 allBytes);
    QString groupName(TotalsDimension dimension, const GroupTotal &group) const;
    QString toolTip(const QString &name, const GroupTotal &group, qint64 allBytes) const;
    // A text of the page's section, or builtIn; a pattern is filled, falling back to
    // builtIn when the translated one does not fit its values.
    QString text(const char *name, const QString &builtIn) const;
    QString filled(const char *name, const QString &builtIn,
                   std::initializer_list<qb::FormatValue> values) const;

    const AttachmentList *m_list;
    int m_rows = 0;
    TStringLoader *m_loader;
    QScrollArea *m_scroll;
    bool m_stale = true;
};
