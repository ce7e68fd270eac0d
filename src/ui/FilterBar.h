#pragma once

#include "processing/AttachmentFilter.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSpinBox;
class QTimer;
class QToolButton;

// The fields above the attachment grid that choose which rows it shows: types, a
// smallest attachment size, the days received, sender and subject texts. Parts of a
// filter given from elsewhere that have no field (the folder, the email's size) show as
// labels with a button that removes them. Every change gives the whole filter at once.
class FilterBar : public QWidget
{
    Q_OBJECT
public:
    explicit FilterBar(QWidget *parent = nullptr);

    AttachmentFilter filter() const;
    // Puts filter into the fields; filterChanged follows once when it differs.
    void setFilter(const AttachmentFilter &filter);
    // The types the list holds (any case), offered in the type menu. Chosen types that
    // are not among them are no longer chosen; with no types, the choice is kept.
    void setTypeChoices(const QStringList &types);
    QStringList typeChoices() const;

    // Sizes in the size field count in these units.
    enum class Unit { Bytes, KB, MB };

    QToolButton *typeButton;
    QLabel *typesChosen; // the chosen types, beside the button
    QSpinBox *minimumSize;
    QComboBox *sizeUnit;
    QCheckBox *firstDayChoice;
    QDateEdit *firstDay;
    QCheckBox *lastDayChoice;
    QDateEdit *lastDay;
    QLineEdit *fromText;
    QLineEdit *subjectText;
    QPushButton *clearButton;
    QPushButton *selectMatchingButton;

Q_SIGNALS:
    void filterChanged(const AttachmentFilter &filter);
    void selectMatchingClicked();

private:
    void fieldChanged();
    void typeToggled();
    void showTypeMenu();
    void showChosenTypes();
    void showRemovableParts();
    void addRemovablePart(const char *objectName, const QString &text, void (FilterBar::*remove)());
    void removeFolder();
    void removeMinEmailSize();
    void removeMaxEmailSize();
    void removeSender();

    QMenu *m_typeMenu;
    QWidget *m_partsRow;
    QHBoxLayout *m_removableParts;
    QTimer *m_textPause;
    QStringList m_choices; // case-folded, sorted
    QStringList m_types;   // chosen, case-folded
    // The parts without a field of their own.
    QString m_folder;
    std::optional<qint64> m_minEmailSize;
    std::optional<qint64> m_maxEmailSize;
    QString m_sender;
    AttachmentFilter m_last; // the filter last given out
    bool m_filling = false;
};
