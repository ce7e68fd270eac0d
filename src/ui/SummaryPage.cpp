#include "SummaryPage.h"

#include "ByteBars.h"
#include "HelpContexts.h"
#include "Localise.h"
#include "ObjectNames.h"
#include "PlainText.h"
#include "common/Error.h"
#include "lang/TStringLoader.h"
#include "mailstore/AttachText.h"
#include "mailstore/AttachmentList.h"

#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

QLabel *chartTitle(const char *name, const QString &caption)
{
    auto *title = named(new QLabel(caption), name);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    return title;
}

} // namespace

SummaryPage::SummaryPage(const AttachmentList *list, TStringLoader *loader, QWidget *parent)
    : QWidget(parent), m_list(list), m_loader(loader)
{
    setObjectName(QStringLiteral("summarySheet"));
    HelpContexts::set(this, HelpContexts::summaryPage);
    totalText = named(plainLabel(new QLabel), "summaryTotal");
    totalText->setWordWrap(true);
    emptyNote = named(new QLabel(QStringLiteral(
                          "Analyze a folder to see where the bytes of its attachments are.")),
                      "summaryEmptyNote");
    emptyNote->setWordWrap(true);
    emptyNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    folderBars = named(new ByteBars, "folderBars");
    typeBars = named(new ByteBars, "typeBars");
    senderBars = named(new ByteBars, "senderBars");
    yearBars = named(new ByteBars, "yearBars");
    auto *charts = new QWidget;
    auto *grid = new QGridLayout(charts);
    grid->addWidget(chartTitle("byFolder", QStringLiteral("By folder")), 0, 0);
    grid->addWidget(folderBars, 1, 0);
    grid->addWidget(chartTitle("byType", QStringLiteral("By type")), 0, 1);
    grid->addWidget(typeBars, 1, 1);
    grid->addWidget(chartTitle("bySender", QStringLiteral("By sender")), 2, 0);
    grid->addWidget(senderBars, 3, 0);
    grid->addWidget(chartTitle("byYear", QStringLiteral("By year")), 2, 1);
    grid->addWidget(yearBars, 3, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(4, 1);
    grid->setVerticalSpacing(4);
    grid->setRowMinimumHeight(2, fontMetrics().height() * 2);
    // Titles sit on their bars, and a chart of few bars starts at the top beside a longer one.
    for (int row : {0, 1, 2, 3}) {
        for (int column : {0, 1})
            grid->setAlignment(grid->itemAtPosition(row, column)->widget(),
                               row % 2 == 0 ? Qt::AlignBottom : Qt::AlignTop);
    }

    // The page is designed small: the charts scroll rather than squeeze their rows.
    m_scroll = named(new QScrollArea, "summaryScroll");
    m_scroll->setWidget(charts);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // On the tab's own background, as the other pages' controls are.
    m_scroll->viewport()->setAutoFillBackground(false);
    charts->setAutoFillBackground(false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(totalText);
    layout->addWidget(emptyNote, 1);
    layout->addWidget(m_scroll, 1);

    for (ByteBars *bars : {folderBars, typeBars, senderBars, yearBars})
        connect(bars, &ByteBars::filterChosen, this, &SummaryPage::filterChosen);
    refresh();
}

void SummaryPage::syncRows()
{
    m_rows = m_list->count();
    // A large list takes a moment to add up: only a page that shows does it at once.
    m_stale = true;
    if (isVisible())
        refresh();
}

void SummaryPage::showEvent(QShowEvent *event)
{
    if (m_stale)
        refresh();
    QWidget::showEvent(event);
}

void SummaryPage::refresh()
{
    m_stale = false;
    const AttachmentTotals totals = AttachmentTotals::ofList(*m_list, m_rows);
    const bool empty = totals.attachments() == 0;
    emptyNote->setVisible(empty);
    m_scroll->setVisible(!empty);
    totalText->setVisible(!empty);
    QString total =
        filled("totalLine", QStringLiteral("Attachments take %s: %d attachment(s) in %d email(s)"),
               {sizeText(totals.bytes()), qint64(totals.attachments()), qint64(totals.emails())});
    if (totals.unknownSizes() > 0)
        total +=
            QLatin1Char(' ') + filled("unknownLine", QStringLiteral("(%d of them of unknown size)"),
                                      {qint64(totals.unknownSizes())});
    totalText->setText(total);
    fill(folderBars, totals.by(TotalsDimension::Folder, barLimit), totals.bytes());
    fill(typeBars, totals.by(TotalsDimension::Type, barLimit), totals.bytes());
    fill(senderBars, totals.by(TotalsDimension::Sender, barLimit), totals.bytes());
    fill(yearBars, totals.by(TotalsDimension::Year, barLimit), totals.bytes());
}

void SummaryPage::fill(ByteBars *bars, const DimensionTotals &totals, qint64 allBytes)
{
    std::vector<ByteBars::Bar> shown;
    for (const GroupTotal &group : totals.groups) {
        const QString name = groupName(totals.dimension, group);
        shown.push_back(ByteBars::Bar{name, group.bytes, sizeText(group.bytes),
                                      toolTip(name, group, allBytes), group.filter});
    }
    bars->setBars(std::move(shown));
}

QString SummaryPage::groupName(TotalsDimension dimension, const GroupTotal &group) const
{
    if (group.other)
        return text("otherGroup", QStringLiteral("Other"));
    if (group.key.isEmpty()) {
        switch (dimension) {
        case TotalsDimension::Folder:
            return text("noFolder", QStringLiteral("(no folder)"));
        case TotalsDimension::Type:
            return text("noType", QStringLiteral("(no type)"));
        case TotalsDimension::Sender:
            return text("noSender", QStringLiteral("(no sender)"));
        case TotalsDimension::Year:
            return text("noDate", QStringLiteral("(no date)"));
        }
    }
    // A folder's label ends with its separator, which says nothing on a bar.
    if (dimension == TotalsDimension::Folder && group.key.endsWith(QLatin1Char('\\')))
        return group.key.chopped(1);
    return group.key;
}

QString SummaryPage::toolTip(const QString &name, const GroupTotal &group, qint64 allBytes) const
{
    const QString share =
        allBytes > 0 ? locale().toString(100.0 * double(group.bytes) / double(allBytes), 'f', 1) +
                           QLatin1Char('%')
                     : QStringLiteral("-");
    QStringList lines{name, filled("bytesLine", QStringLiteral("%.0n bytes"), {group.bytes}),
                      filled("countLine", QStringLiteral("%d attachment(s) in %d email(s)"),
                             {qint64(group.attachments), qint64(group.emails)}),
                      filled("shareLine", QStringLiteral("%s of the total"), {share})};
    if (group.other)
        lines << text("otherHint", QStringLiteral("The smaller groups together"));
    else if (group.filter)
        lines << text("chooseHint", QStringLiteral("Click to list these attachments"));
    return lines.join(QLatin1Char('\n'));
}

QString SummaryPage::text(const char *name, const QString &builtIn) const
{
    return LocalisedText(m_loader, languageSection, name, builtIn);
}

QString SummaryPage::filled(const char *name, const QString &builtIn,
                            std::initializer_list<qb::FormatValue> values) const
{
    try {
        return qb::format(text(name, builtIn), values, locale());
    } catch (const qb::Error &) {
        return qb::format(builtIn, values, locale());
    }
}
