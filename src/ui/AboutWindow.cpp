#include "AboutWindow.h"

#include "Localise.h"
#include "common/AutomationDate.h"
#include "common/Error.h"
#include "common/Format.h"
#include "common/ProgramFolder.h"
#include "common/Version.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QUrl>
#include <QVBoxLayout>

#include <gmime/gmime.h>

namespace {

QLabel *label(QWidget *parent, const char *name, const QString &text)
{
    auto *made = new QLabel(text, parent);
    made->setObjectName(QString::fromLatin1(name));
    made->setWordWrap(true);
    return made;
}

// Puts the values into the label's pattern; a translated pattern that does not fit
// them gives way to the built-in one.
void fill(QLabel *label, const QString &builtIn, std::initializer_list<qb::FormatValue> values)
{
    try {
        label->setText(qb::format(label->text(), values));
    } catch (const qb::Error &) {
        label->setText(qb::format(builtIn, values));
    }
}

QString linkTo(const QString &href, const QString &text)
{
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(href.toHtmlEscaped(), text.toHtmlEscaped());
}

} // namespace

AboutWindow::AboutWindow(TStringLoader *loader, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ABox"));
    setWindowTitle(QStringLiteral("About Quillbrook"));
    setModal(true);

    // Texts that name a version, a date or a file are patterns: the language file keeps
    // the pattern, and the values are put in after localising.
    const QString licence = licenceFile();
    productName = label(this, "productName", QString::fromLatin1(qb::productName));
    QFont big = productName->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    productName->setFont(big);
    versionText = label(this, "versionText", QStringLiteral("Version %s"));
    releaseText = label(this, "releaseText", QStringLiteral("Released %s"));
    makerText = label(this, "makerText",
                      QStringLiteral("Made by Vellmor Software. Lists every attachment of your "
                                     "mail folders, and deletes, detaches or saves them in bulk."));
    licenceText = label(this, "licenceText",
                        licence.isEmpty()
                            ? QStringLiteral("No licence file came with this copy of the program.")
                            : QStringLiteral("The licence is in %s."));
    licenceText->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(licenceText, &QLabel::linkActivated, this,
            [](const QString &link) { QDesktopServices::openUrl(QUrl(link)); });
    librariesText = label(this, "librariesText", QStringLiteral("Runs with Qt %s and GMime %s."));
    manualLink = label(this, "manualLink",
                       linkTo(QStringLiteral("help:contents"), QStringLiteral("Quillbrook Help")));
    manualLink->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(manualLink, &QLabel::linkActivated, this, &AboutWindow::manualRequested);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(productName);
    layout->addWidget(versionText);
    layout->addWidget(releaseText);
    layout->addSpacing(8);
    layout->addWidget(makerText);
    layout->addWidget(licenceText);
    layout->addWidget(librariesText);
    layout->addSpacing(8);
    layout->addWidget(manualLink);
    layout->addStretch();
    layout->addWidget(buttons);
    setMinimumWidth(380);

    if (loader)
        LocaliseForm(*loader, languageSection, this);
    const QDate released = qb::fromAutomationDate(qb::releaseStamp).date();
    fill(versionText, QStringLiteral("Version %s"), {QString::fromLatin1(qb::versionText)});
    fill(releaseText, QStringLiteral("Released %s"),
         {QLocale().toString(released, QStringLiteral("d MMMM yyyy"))});
    if (!licence.isEmpty())
        fill(licenceText, QStringLiteral("The licence is in %s."),
             {linkTo(QUrl::fromLocalFile(licence).toString(), licence)});
    fill(librariesText, QStringLiteral("Runs with Qt %s and GMime %s."),
         {QString::fromLatin1(qVersion()), QStringLiteral("%1.%2.%3")
                                               .arg(gmime_major_version)
                                               .arg(gmime_minor_version)
                                               .arg(gmime_micro_version)});
}

QString AboutWindow::licenceFile()
{
    const QString folder = qb::programFolder();
    for (const QString &candidate :
         {folder + QStringLiteral("LICENSE"),
          QDir::cleanPath(folder + QStringLiteral("../share/doc/quillbrook/LICENSE"))}) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return {};
}
