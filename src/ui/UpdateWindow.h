#pragma once

#include <QDialog>
#include <QTime>

class QDateEdit;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTabWidget;
class TStringLoader;
class UpdateCheck;
namespace update {
class HttpFetch;
}

// The update window: check the web for a newer release now, or postpone the automatic
// check to a chosen day. Fixed size, on top, centred; frees itself when closed, which
// stops its fetch. Its language-file section keeps the name TupdateForm.
class UpdateWindow : public QDialog
{
    Q_OBJECT
public:
    static constexpr QLatin1String languageSection{"TupdateForm"};
    // The time of day the picker's value carries: a postponed check runs from the day
    // after the chosen one.
    static QTime pickerTime() { return QTime(22, 7, 28); }

    UpdateWindow(UpdateCheck &check, TStringLoader *loader, QWidget *parent = nullptr);
    ~UpdateWindow() override;

    void checkWebClick();
    void okButtonClick();
    // Asks the web site for the versions file; the reply arrives in HTTPGet1DoneString
    // or HTTPGet1Error. Does nothing while a fetch runs.
    void fetchPage();
    void HTTPGet1DoneString(const QString &result);
    void HTTPGet1Error(const QString &reason);

    // The picker's value as an automation date: its day at pickerTime.
    double nextDateValue() const;

    QTabWidget *pages;
    QGroupBox *outOfDate;
    QRadioButton *checkWeb;
    QRadioButton *dontAsk;
    QDateEdit *nextDate;
    QLabel *statusText;
    QPushButton *okButton;
    update::HttpFetch *HTTPGet1;

public Q_SLOTS:
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void showStatus(const QString &text);
    // A message box in front of this window, or of the main window while this one hides.
    void inform(const QString &text);
    QWidget *boxParent();
    // Fills a caption's "%s" with the product name; a caption that does not fit stays.
    static QString withProduct(const QString &caption);

    UpdateCheck &m_check;
    bool m_closes = false; // okButton has become the Close button
};
