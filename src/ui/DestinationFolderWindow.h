#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QToolButton;
class TFormInfo;
class TStringLoader;

// Asks where saved attachments go: a folder field with a browse button that opens
// the system's folder picker. Made at start-up, kept until the program ends.
// Its language-file section keeps the name TfolderChooser; registry key ...\Quillbrook\Form2.
class DestinationFolderWindow : public QDialog
{
    Q_OBJECT
public:
    // The window's section in the language file.
    static constexpr QLatin1String languageSection{"TfolderChooser"};

    DestinationFolderWindow(TStringLoader *loader, QWidget *parent);

    // Shows folder, and on OK replaces it with what the user chose. A note, when given,
    // says what the job about to start will do.
    bool choose(QString &folder, const QString &note = QString());

    QLineEdit *folderField;
    QLabel *jobNote;
    QToolButton *browseButton;

protected:
    void done(int result) override;

private:
    TFormInfo *m_placement;
};
