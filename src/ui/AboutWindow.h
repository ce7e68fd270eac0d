#pragma once

#include <QDialog>

class QLabel;
class TStringLoader;

// About Quillbrook: the program's name, version and release date, its maker, where
// its licence is, the Qt and GMime it runs with, and a link to the manual. Shown
// modally from the Help menu. Its language-file section is TABox.
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    static constexpr QLatin1String languageSection{"TABox"};

    AboutWindow(TStringLoader *loader, QWidget *parent = nullptr);

    // The licence beside the program (LICENSE), or in the documentation folder of an
    // installation (<prefix>/share/doc/quillbrook/); empty when there is none.
    static QString licenceFile();

    QLabel *productName;
    QLabel *versionText;
    QLabel *releaseText;
    QLabel *makerText;
    QLabel *licenceText;
    QLabel *librariesText;
    QLabel *manualLink;

Q_SIGNALS:
    // The link to the manual was followed.
    void manualRequested();
};
