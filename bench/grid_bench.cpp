// The attachment grid with a million rows: how long until the rows show, how long
// a heading sort takes, how long scrolling through takes, and the memory used.
//   grid_bench [ROWS]   (run with QT_QPA_PLATFORM=offscreen or under a display)
#include "processing/StringPool.h"
#include "ui/AttachmentGridModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTableView>

#include <cstdio>

namespace {

long residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000000;
    const long before = residentKilobytes();

    AttachmentList list;
    StringPool pool; // as the analysis shares repeated texts
    QRandomGenerator random(7);
    const QStringList words = {QStringLiteral("Report"),    QStringLiteral("Invoice"),
                               QStringLiteral("Re: plans"), QStringLiteral("Photos"),
                               QStringLiteral("Minutes"),   QStringLiteral("Contract")};
    for (int i = 0; i < rows; ++i) {
        const QString subject = words[int(random.bounded(words.size()))] + QLatin1Char(' ') +
                                QString::number(random.bounded(100000));
        const QString filename = QStringLiteral("file%1.pdf").arg(i % 977);
        list.append(
            subject,
            std::make_shared<const TAttach>(TAttach{
                subject, pool.pooled(QStringLiteral("Sender %1").arg(i % 313)),
                pool.pooled(QStringLiteral("Inbox\\Projects\\")), qint64(random.bounded(20000000)),
                filename, pool.pooled(attachmentType(filename)), 40000 + random.bounded(5000) / 1.0,
                QStringLiteral("id"), 1, QStringLiteral("store")}));
    }
    const long filled = residentKilobytes();

    AttachmentGridModel model(&list, nullptr);
    QTableView view;
    view.setModel(&model);
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->hide();
    view.resize(900, 500);
    view.show();
    QApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    model.syncRows();
    view.repaint();
    QApplication::processEvents();
    const qint64 showMs = timer.elapsed();

    timer.restart();
    model.headingClick(1);
    view.repaint();
    const qint64 sortTextMs = timer.elapsed();
    timer.restart();
    model.headingClick(3);
    view.repaint();
    const qint64 sortSizeMs = timer.elapsed();
    const long sorted = residentKilobytes();

    timer.restart();
    const int pages = 200;
    for (int page = 0; page < pages; ++page) {
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() * page / pages);
        view.repaint();
    }
    const qint64 scrollMs = timer.elapsed();

    std::printf("rows: %d\n", rows);
    std::printf("rows shown after the analysis: %lld ms\n", static_cast<long long>(showMs));
    std::printf("heading sort, Subject (text): %lld ms; Size (number): %lld ms\n",
                static_cast<long long>(sortTextMs), static_cast<long long>(sortSizeMs));
    std::printf("scrolling: %d pages drawn in %lld ms (%.1f ms a page)\n", pages,
                static_cast<long long>(scrollMs), double(scrollMs) / pages);
    std::printf("memory: %ld MB in all (%ld MB after the sorts), %ld MB for the list\n",
                residentKilobytes() / 1024, sorted / 1024, (filled - before) / 1024);
    return 0;
}
