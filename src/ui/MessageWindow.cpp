#include "MessageWindow.h"

#include "mailstore/MailStore.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLocale>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The text as HTML, its web and file addresses made links.
QString linkedText(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QRegularExpression address(QStringLiteral("\\b(?:file|https?|ftp|mailto):[^\\s<>\"]+"));
    QString html;
    qsizetype done = 0;
    for (auto it = address.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QString url = match.captured();
        // Punctuation that ends a sentence ends the address too.
        while (!url.isEmpty() && QStringLiteral(".,;:!?)").contains(url.back()))
            url.chop(1);
        html += text.mid(done, match.capturedStart() - done).toHtmlEscaped();
        html += QStringLiteral("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped());
        done = match.capturedStart() + url.size();
    }
    return html + text.mid(done).toHtmlEscaped();
}

} // namespace

namespace MessageWindow {

void display(mailstore::Item &email, QWidget *parent)
{
    QString html = QStringLiteral("<table>");
    const auto row = [&html](const QString &name, const QString &value) {
        html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>")
                    .arg(name, value.toHtmlEscaped());
    };
    row(QStringLiteral("From:"), email.senderName());
    row(QStringLiteral("Subject:"), email.subject());
    row(QStringLiteral("Received:"), QLocale().toString(email.receivedTime(), QLocale::LongFormat));
    QStringList names;
    const auto attachments = email.attachments();
    for (int i = 1; i <= attachments->count(); ++i)
        names << attachments->item(i)->filename();
    row(QStringLiteral("Attachments:"),
        names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", ")));
    html += QStringLiteral("</table><hr><div style=\"white-space: pre-wrap\">%1</div>")
                .arg(linkedText(email.body()));

    auto *window = new QDialog(parent);
    window->setObjectName(QStringLiteral("messageWindow"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(email.subject());
    window->resize(640, 480);
    auto *view = new QTextBrowser(window);
    view->setObjectName(QStringLiteral("messageText"));
    view->setOpenLinks(false);
    // A long link has no spaces to wrap at; it wraps anywhere rather than run off the side.
    view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    view->setHtml(html);
    // A note's link opens the saved file with the program the desktop chooses.
    QObject::connect(view, &QTextBrowser::anchorClicked, window,
                     [](const QUrl &url) { QDesktopServices::openUrl(url); });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
    QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
    auto *layout = new QVBoxLayout(window);
    layout->addWidget(view, 1);
    layout->addWidget(buttons);
    window->show();
    window->raise();
    window->activateWindow();
    view->setFocus(); // Esc closes it, arrows scroll it, at once
}

} // namespace MessageWindow
