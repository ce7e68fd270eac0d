#include "FilterBar.h"

#include "ObjectNames.h"
#include "PlainText.h"
#include "processing/FreedSpace.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

namespace {

constexpr qint64 unitBytes[] = {1, 1000, 1000000};

// How a type shows in the menu; an attachment without one has an empty type.
QString typeCaption(const QString &type)
{
    return type.isEmpty() ? QStringLiteral("(none)") : type;
}

QStringList caseFolded(const QStringList &types)
{
    QStringList folded;
    for (const QString &type : types)
        folded << type.toCaseFolded();
    folded.removeDuplicates();
    folded.sort();
    return folded;
}

} // namespace

FilterBar::FilterBar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("filterBar"));
    typeButton = named(new QToolButton(this), "filterTypes");
    typeButton->setText(QStringLiteral("&Type"));
    typeButton->setPopupMode(QToolButton::InstantPopup);
    setHint(typeButton, QStringLiteral("Show the attachments of these types only"));
    m_typeMenu = named(new QMenu(typeButton), "filterTypeMenu");
    typeButton->setMenu(m_typeMenu);
    // The chosen types change with every choice: not a caption of the language file.
    typesChosen = plainLabel(new QLabel(this));
    typesChosen->setMinimumWidth(40);
    typesChosen->setMaximumWidth(110);

    auto *sizeLabel = named(new QLabel(QStringLiteral("&At least"), this), "filterSizeLabel");
    minimumSize = named(new QSpinBox(this), "filterMinimumSize");
    minimumSize->setRange(0, std::numeric_limits<int>::max());
    minimumSize->setSpecialValueText(QStringLiteral("any"));
    setHint(minimumSize, QStringLiteral("The smallest attachment size to show"));
    sizeLabel->setBuddy(minimumSize);
    sizeUnit = named(new QComboBox(this), "filterSizeUnit");
    sizeUnit->addItems({QStringLiteral("bytes"), QStringLiteral("KB"), QStringLiteral("MB")});
    sizeUnit->setCurrentIndex(int(Unit::KB));

    auto *fromLabel = named(new QLabel(QStringLiteral("Se&nder"), this), "filterFromLabel");
    fromText = named(new QLineEdit(this), "filterFrom");
    fromText->setClearButtonEnabled(true);
    setHint(fromText, QStringLiteral("Show the attachments whose sender contains this text"));
    fromLabel->setBuddy(fromText);
    auto *subjectLabel = named(new QLabel(QStringLiteral("S&ubject"), this), "filterSubjectLabel");
    subjectText = named(new QLineEdit(this), "filterSubject");
    subjectText->setClearButtonEnabled(true);
    setHint(subjectText, QStringLiteral("Show the attachments whose subject contains this text"));
    subjectLabel->setBuddy(subjectText);

    firstDayChoice = named(new QCheckBox(QStringLiteral("Received &from"), this), "filterFirstDay");
    firstDay = named(new QDateEdit(QDate::currentDate(), this), "filterFirstDate");
    lastDayChoice = named(new QCheckBox(QStringLiteral("t&o"), this), "filterLastDay");
    lastDay = named(new QDateEdit(QDate::currentDate(), this), "filterLastDate");
    for (QDateEdit *day : {firstDay, lastDay}) {
        day->setCalendarPopup(true);
        day->setEnabled(false);
    }
    setHint(firstDayChoice, QStringLiteral("Show the attachments received on or after this day"));
    setHint(lastDayChoice, QStringLiteral("Show the attachments received on or before this day"));

    clearButton = named(new QPushButton(QStringLiteral("C&lear"), this), "filterClear");
    setHint(clearButton, QStringLiteral("Show every attachment"));
    selectMatchingButton =
        named(new QPushButton(QStringLiteral("Select &matching"), this), "filterSelectMatching");
    setHint(selectMatchingButton, QStringLiteral("Select every attachment the grid shows"));

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    auto *first = new QHBoxLayout;
    first->addWidget(typeButton);
    first->addWidget(typesChosen);
    first->addSpacing(6);
    first->addWidget(sizeLabel);
    first->addWidget(minimumSize);
    first->addWidget(sizeUnit);
    first->addSpacing(6);
    first->addWidget(fromLabel);
    first->addWidget(fromText, 1);
    first->addWidget(subjectLabel);
    first->addWidget(subjectText, 1);
    auto *second = new QHBoxLayout;
    second->addWidget(firstDayChoice);
    second->addWidget(firstDay);
    second->addWidget(lastDayChoice);
    second->addWidget(lastDay);
    second->addStretch();
    second->addWidget(clearButton);
    second->addWidget(selectMatchingButton);
    // A row of their own, shown only while there are any.
    m_partsRow = new QWidget(this);
    auto *parts = new QHBoxLayout(m_partsRow);
    parts->setContentsMargins(0, 0, 0, 0);
    m_removableParts = new QHBoxLayout;
    parts->addLayout(m_removableParts);
    parts->addStretch();
    m_partsRow->hide();
    grid->addLayout(first, 0, 0);
    grid->addLayout(second, 1, 0);
    grid->addWidget(m_partsRow, 2, 0);

    // Typing filters once a pause shows the text is there, not at every key.
    m_textPause = new QTimer(this);
    m_textPause->setSingleShot(true);
    m_textPause->setInterval(300);
    connect(m_textPause, &QTimer::timeout, this, &FilterBar::fieldChanged);
    for (QLineEdit *text : {fromText, subjectText}) {
        connect(text, &QLineEdit::textEdited, m_textPause, qOverload<>(&QTimer::start));
        connect(text, &QLineEdit::editingFinished, this, &FilterBar::fieldChanged);
        // The clear button empties the field without an edit.
        connect(text, &QLineEdit::textChanged, this, [this, text] {
            if (text->text().isEmpty())
                fieldChanged();
        });
    }
    connect(minimumSize, &QSpinBox::valueChanged, this, &FilterBar::fieldChanged);
    connect(sizeUnit, &QComboBox::currentIndexChanged, this, &FilterBar::fieldChanged);
    for (QCheckBox *choice : {firstDayChoice, lastDayChoice})
        connect(choice, &QCheckBox::toggled, this, [this] {
            firstDay->setEnabled(firstDayChoice->isChecked());
            lastDay->setEnabled(lastDayChoice->isChecked());
            fieldChanged();
        });
    connect(firstDay, &QDateEdit::dateChanged, this, &FilterBar::fieldChanged);
    connect(lastDay, &QDateEdit::dateChanged, this, &FilterBar::fieldChanged);
    connect(clearButton, &QPushButton::clicked, this, [this] { setFilter(AttachmentFilter()); });
    connect(selectMatchingButton, &QPushButton::clicked, this, &FilterBar::selectMatchingClicked);
    showTypeMenu();
}

AttachmentFilter FilterBar::filter() const
{
    AttachmentFilter filter;
    filter.types = m_types;
    if (minimumSize->value() > 0)
        filter.minAttachmentSize = minimumSize->value() * unitBytes[sizeUnit->currentIndex()];
    if (firstDayChoice->isChecked())
        filter.firstDay = firstDay->date();
    if (lastDayChoice->isChecked())
        filter.lastDay = lastDay->date();
    filter.from = fromText->text().trimmed();
    filter.subject = subjectText->text().trimmed();
    filter.folder = m_folder;
    filter.minEmailSize = m_minEmailSize;
    filter.maxEmailSize = m_maxEmailSize;
    filter.sender = m_sender;
    return filter;
}

void FilterBar::setFilter(const AttachmentFilter &filter)
{
    m_filling = true;
    m_textPause->stop();
    m_types = caseFolded(filter.types);
    // The largest unit that holds the size exactly, so that it shows as it was given.
    int unit = int(Unit::Bytes);
    qint64 size = filter.minAttachmentSize.value_or(0);
    for (int u = int(Unit::MB); u > int(Unit::Bytes); --u) {
        if (size % unitBytes[u] == 0) {
            unit = u;
            break;
        }
    }
    if (size / unitBytes[unit] > std::numeric_limits<int>::max()) {
        unit = int(Unit::MB);
        size = (size + unitBytes[unit] - 1) / unitBytes[unit] * unitBytes[unit];
    }
    sizeUnit->setCurrentIndex(size > 0 ? unit : int(Unit::KB));
    minimumSize->setValue(int(size / unitBytes[unit]));
    firstDayChoice->setChecked(filter.firstDay.has_value());
    if (filter.firstDay)
        firstDay->setDate(*filter.firstDay);
    lastDayChoice->setChecked(filter.lastDay.has_value());
    if (filter.lastDay)
        lastDay->setDate(*filter.lastDay);
    fromText->setText(filter.from);
    subjectText->setText(filter.subject);
    m_folder = filter.folder;
    m_minEmailSize = filter.minEmailSize;
    m_maxEmailSize = filter.maxEmailSize;
    m_sender = filter.sender;
    m_filling = false;
    showTypeMenu();
    showRemovableParts();
    fieldChanged();
}

void FilterBar::setTypeChoices(const QStringList &types)
{
    const QStringList choices = caseFolded(types);
    if (choices.isEmpty() || choices == m_choices)
        return;
    m_choices = choices;
    const qsizetype chosen = m_types.size();
    m_types.removeIf([this](const QString &type) { return !m_choices.contains(type); });
    showTypeMenu();
    if (m_types.size() != chosen)
        fieldChanged();
}

QStringList FilterBar::typeChoices() const
{
    return m_choices;
}

void FilterBar::fieldChanged()
{
    if (m_filling)
        return;
    const AttachmentFilter now = filter();
    if (now == m_last)
        return;
    m_last = now;
    Q_EMIT filterChanged(now);
}

void FilterBar::typeToggled()
{
    m_types.clear();
    for (QAction *action : m_typeMenu->actions()) {
        if (action->isCheckable() && action->isChecked())
            m_types << action->data().toString();
    }
    // The menu stays as it is: the action that was toggled is still sending.
    showChosenTypes();
    fieldChanged();
}

void FilterBar::showTypeMenu()
{
    m_typeMenu->clear();
    // A type given from elsewhere that the list lacks still shows, chosen, to be unchosen.
    QStringList offered = m_choices + m_types;
    offered.removeDuplicates();
    offered.sort();
    if (offered.isEmpty())
        m_typeMenu->addAction(QStringLiteral("No attachments listed"))->setEnabled(false);
    for (const QString &type : std::as_const(offered)) {
        QAction *action = m_typeMenu->addAction(typeCaption(type));
        action->setCheckable(true);
        action->setChecked(m_types.contains(type));
        action->setData(type);
        connect(action, &QAction::toggled, this, &FilterBar::typeToggled);
    }
    showChosenTypes();
}

void FilterBar::showChosenTypes()
{
    QStringList captions;
    for (const QString &type : std::as_const(m_types))
        captions << typeCaption(type);
    const QString text = captions.join(QStringLiteral(", "));
    typesChosen->setText(
        typesChosen->fontMetrics().elidedText(text, Qt::ElideRight, typesChosen->maximumWidth()));
    typesChosen->setToolTip(plainToolTip(text));
}

void FilterBar::showRemovableParts()
{
    while (QLayoutItem *item = m_removableParts->takeAt(0)) {
        // Later: the part may be the button whose click is being handled.
        item->widget()->hide();
        item->widget()->setObjectName(QString());
        item->widget()->deleteLater();
        delete item;
    }
    m_partsRow->setVisible(!m_folder.isEmpty() || m_minEmailSize || m_maxEmailSize ||
                           !m_sender.isEmpty());
    if (!m_folder.isEmpty())
        addRemovablePart("filterFolderPart", QStringLiteral("Folder %1").arg(m_folder),
                         &FilterBar::removeFolder);
    if (m_minEmailSize)
        addRemovablePart("filterMinEmailPart",
                         QStringLiteral("Email from %1").arg(freedSizeText(*m_minEmailSize)),
                         &FilterBar::removeMinEmailSize);
    if (m_maxEmailSize)
        addRemovablePart("filterMaxEmailPart",
                         QStringLiteral("Email up to %1").arg(freedSizeText(*m_maxEmailSize)),
                         &FilterBar::removeMaxEmailSize);
    if (!m_sender.isEmpty())
        addRemovablePart("filterSenderPart", QStringLiteral("Sender %1").arg(m_sender),
                         &FilterBar::removeSender);
}

void FilterBar::addRemovablePart(const char *objectName, const QString &text,
                                 void (FilterBar::*remove)())
{
    auto *part = named(new QToolButton(m_partsRow), objectName);
    part->setText(text);
    part->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    part->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    part->setLayoutDirection(Qt::RightToLeft); // the cross after the text
    part->setToolTip(QStringLiteral("Remove this part of the filter"));
    connect(part, &QToolButton::clicked, this, remove);
    m_removableParts->addWidget(part);
}

void FilterBar::removeFolder()
{
    m_folder.clear();
    showRemovableParts();
    fieldChanged();
}

void FilterBar::removeMinEmailSize()
{
    m_minEmailSize.reset();
    showRemovableParts();
    fieldChanged();
}

void FilterBar::removeMaxEmailSize()
{
    m_maxEmailSize.reset();
    showRemovableParts();
    fieldChanged();
}

void FilterBar::removeSender()
{
    m_sender.clear();
    showRemovableParts();
    fieldChanged();
}
