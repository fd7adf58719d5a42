#pragma once
// A small window with the component names and property types of the reader's main window, and
// a component with one property of every other kind the settings store encodes.
#include <QObject>
#include <QStringList>
#include <QVariant>

#include "settings/FormStorage.h"
#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Memo.h"
#include "toolkit/Menus.h"

// Stands in for the file list: Directory, ShowFolders, Font.
class TTestFileList : public TControl<QFrame> {
    Q_OBJECT
    Q_PROPERTY(QString Directory READ Directory WRITE SetDirectory)
    Q_PROPERTY(bool ShowFolders READ ShowFolders WRITE SetShowFolders)
    Q_PROPERTY(TFont Font READ Font WRITE SetFont)
    Q_PROPERTY(Toolkit::TAlign Align READ Align WRITE SetAlign)

  public:
    TTestFileList(const QString& name, QWidget* parent);
    QString Directory() const { return directory_; }
    void SetDirectory(const QString& value) { directory_ = value; }
    bool ShowFolders() const { return showFolders_; }
    void SetShowFolders(bool value) { showFolders_ = value; }

  private:
    QString directory_;
    bool showFolders_ = true;
};

// Stands in for the picture view.
class TTestPictureView : public TControl<QWidget> {
    Q_OBJECT
    Q_PROPERTY(Toolkit::TAlign Align READ Align WRITE SetAlign)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(bool Stretch READ Stretch WRITE SetStretch)
    Q_PROPERTY(bool Tiled READ Tiled WRITE SetTiled)

  public:
    TTestPictureView(const QString& name, QWidget* parent);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value) { autoSize_ = value; }
    bool Stretch() const { return stretch_; }
    void SetStretch(bool value) { stretch_ = value; }
    bool Tiled() const { return tiled_; }
    void SetTiled(bool value) { tiled_ = value; }

  private:
    bool autoSize_ = true;
    bool stretch_ = false;
    bool tiled_ = false;
};

// One property of each remaining kind.
class TTestKinds : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 Big MEMBER Big)
    Q_PROPERTY(double Ratio MEMBER Ratio)
    Q_PROPERTY(QChar Letter MEMBER Letter)
    Q_PROPERTY(QVariant Any MEMBER Any)
    Q_PROPERTY(QStringList Lines MEMBER Lines)
    Q_PROPERTY(QString Text MEMBER Text)
    Q_PROPERTY(TPanel* Link MEMBER Link)

  public:
    TTestKinds(const QString& name, QObject* parent) : QObject(parent) { setObjectName(name); }
    qint64 Big = 0;
    double Ratio = 0;
    QChar Letter = QLatin1Char('a');
    QVariant Any;
    QStringList Lines;
    QString Text;
    TPanel* Link = nullptr;
};

class TTestWindow : public TForm {
    Q_OBJECT

  public:
    // The reader's stored properties, in its order.
    static QStringList MainStoredProps();

    // Builds the components; the storage writes to iniPath.
    explicit TTestWindow(const QString& iniPath, QWidget* parent = nullptr);
    ~TTestWindow() override;

    TPanel* PanelTop;
    TPanel* PanelLeft;
    TTestFileList* BrowseDrives;
    TTestFileList* BrowseFiles;
    TPanel* PanelImage;
    TTestPictureView* ViewImage;
    TMemo* ReadText;
    TFontDialog* FontText;
    TFontDialog* FontBrowse;
    TColorDialog* ImageBk;
    TPopupMenu* TextMenu;
    TMenuItem* WrapMenu;
    TMenuItem* TextAutoFocus;
    TPopupMenu* FileMenu;
    TMenuItem* BrowseTextFiles;
    TMenuItem* BrowseImageFiles;
    TMenuItem* FolderMenu;
    TPopupMenu* ImageMenu;
    TMenuItem* FullView;
    TMenuItem* TileView;
    TTestKinds* Kinds;
    TFormStorage* FormStorage1;

    // What happened, in order ("read", "show", "save").
    QStringList Log;
    bool AllowClose = true;

  protected:
    void FormShow() override;
    void FormCloseQuery(bool& canClose) override;
};
