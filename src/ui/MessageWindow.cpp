#include "MessageWindow.h"

#include "mailstore/MailStore.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLocale>
#include <QTextBrowser>
#include <QVBoxLayout>

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
    html += QStringLiteral("</table><hr><pre>%1</pre>").arg(email.body().toHtmlEscaped());

    auto *window = new QDialog(parent);
    window->setObjectName(QStringLiteral("messageWindow"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(email.subject());
    window->resize(640, 480);
    auto *view = new QTextBrowser(window);
    view->setHtml(html);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
    QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
    auto *layout = new QVBoxLayout(window);
    layout->addWidget(view, 1);
    layout->addWidget(buttons);
    window->show();
}

} // namespace MessageWindow
