#pragma once
// TFormPlacement: a non-visual component that makes its window remember its placement (position,
// size, state) between runs in one section of an ini file.
//
// Hooks. Made with the window as its owner, the component installs an event filter on the
// window:
// - Show (not the spontaneous ones the window system sends on un-minimizing): ReadSettings runs
//   when Active. An event filter sees the event before the window's own showEvent, so a TForm's
//   FormShow runs after the settings are restored. A plain QWidget window connects its own show
//   handler to OnWindowShow, which is emitted right after the restore.
// - Close: the window's own close handling (TForm::FormCloseQuery) runs first; when it lets the
//   window close and Active is on, WriteSettings runs.
// - Destroy: for a TForm on its Destroying signal (before FormDestroy, while every component is
//   alive), for another QWidget on its destroyed signal (QWidget emits it before deleting its
//   children): when Active and no save ran since the last restore, WriteSettings runs with
//   "Visible" = "1". OnWindowDestroy follows, for a plain window's own destroy handler.
// Errors in a hook are shown in the application's standard error box. Deleting the component
// removes the hooks.
//
// Keys written, in this order: "FormVersion", "Flags", "ShowCmd", "PixelsPerInch",
// "MinMaxPos(<w>x<h>)", "MinMaxPos", "NormPos(<w>x<h>)", "NormPos", "Visible", where <w>x<h> is
// the screen size. NormPos is left, top, right, bottom of the normal window rectangle, outer
// bounds as TForm gives them (the frame where the window system reports one); it is tracked
// while the window is maximized or minimized, so a maximized window keeps its normal size too.
// MinMaxPos is minimized x, y and maximized x, y, kept for the file's sake (the window manager
// places minimized and maximized windows here).
//
// A restored rectangle is made usable before it is applied: no larger than the available
// desktop and on it with the title bar reachable (TForm::FitToDesktop); a size below 120 x 60
// keeps the window's own size.
//
// Where the file lives: IniFileName resolved by TIniFile (a bare name in the user's
// configuration folder). The registry properties are kept for completeness; the settings always
// go to the ini file. MinMaxInfo and PreventResize are stored but not enforced.
#include <QEvent>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <memory>

class QWidget;
class TIniFile;

// Optional size limits of the window (all 0: none).
class TWinMinMaxInfo {
    Q_GADGET
    Q_PROPERTY(int MaxPosLeft MEMBER MaxPosLeft)
    Q_PROPERTY(int MaxPosTop MEMBER MaxPosTop)
    Q_PROPERTY(int MaxSizeHeight MEMBER MaxSizeHeight)
    Q_PROPERTY(int MaxSizeWidth MEMBER MaxSizeWidth)
    Q_PROPERTY(int MaxTrackHeight MEMBER MaxTrackHeight)
    Q_PROPERTY(int MaxTrackWidth MEMBER MaxTrackWidth)
    Q_PROPERTY(int MinTrackHeight MEMBER MinTrackHeight)
    Q_PROPERTY(int MinTrackWidth MEMBER MinTrackWidth)

  public:
    int MaxPosLeft = 0;
    int MaxPosTop = 0;
    int MaxSizeHeight = 0;
    int MaxSizeWidth = 0;
    int MaxTrackHeight = 0;
    int MaxTrackWidth = 0;
    int MinTrackHeight = 0;
    int MinTrackWidth = 0;

    bool DefaultMinMaxInfo() const { return *this == TWinMinMaxInfo(); }
    bool operator==(const TWinMinMaxInfo&) const = default;
};

Q_DECLARE_METATYPE(TWinMinMaxInfo)

class TFormPlacement : public QObject {
    Q_OBJECT

  public:
    enum TPlacementOption { fpState = 1, fpPosition = 2, fpActiveControl = 4 };
    Q_DECLARE_FLAGS(TPlacementOptions, TPlacementOption)
    Q_FLAG(TPlacementOptions)

    enum TPlacementRegRoot {
        prCurrentUser,
        prLocalMachine,
        prCurrentConfig,
        prClassesRoot,
        prUsers,
        prDynData
    };
    Q_ENUM(TPlacementRegRoot)

  private:
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(QString IniFileName READ IniFileName WRITE SetIniFileName)
    Q_PROPERTY(QString IniSection READ IniSection WRITE SetIniSection)
    Q_PROPERTY(TWinMinMaxInfo MinMaxInfo READ MinMaxInfo WRITE SetMinMaxInfo)
    Q_PROPERTY(TPlacementOptions Options READ Options WRITE SetOptions)
    Q_PROPERTY(bool PreventResize READ PreventResize WRITE SetPreventResize)
    Q_PROPERTY(TPlacementRegRoot RegistryRoot READ RegistryRoot WRITE SetRegistryRoot)
    Q_PROPERTY(bool UseRegistry READ UseRegistry WRITE SetUseRegistry)
    Q_PROPERTY(int Version READ Version WRITE SetVersion)

  public:
    // owner: the window whose placement is kept (Options start empty for any other owner).
    explicit TFormPlacement(const QString& name, QObject* owner);
    ~TFormPlacement() override;

    bool Active() const { return active_; }
    void SetActive(bool value) { active_ = value; }
    QString IniFileName() const { return iniFileName_; }
    void SetIniFileName(const QString& value) { iniFileName_ = value; }
    QString IniSection() const { return iniSection_; }
    void SetIniSection(const QString& value) { iniSection_ = value; }
    TWinMinMaxInfo MinMaxInfo() const { return minMaxInfo_; }
    void SetMinMaxInfo(const TWinMinMaxInfo& value);
    TPlacementOptions Options() const { return options_; }
    void SetOptions(TPlacementOptions value) { options_ = value; }
    bool PreventResize() const { return preventResize_; }
    void SetPreventResize(bool value) { preventResize_ = value; }
    TPlacementRegRoot RegistryRoot() const { return registryRoot_; }
    void SetRegistryRoot(TPlacementRegRoot value) { registryRoot_ = value; }
    bool UseRegistry() const { return useRegistry_; }
    void SetUseRegistry(bool value) { useRegistry_ = value; }
    int Version() const { return version_; }
    void SetVersion(int value) { version_ = value; }

    // The settings file name in effect: IniFileName, or the program's name + ".INI".
    QString EffectiveIniFileName() const;
    // The section in effect: IniSection, or the window's class name.
    QString EffectiveIniSection() const;

    // Call when the window's components are all created (the window's constructor, before its
    // own creation handler). Runs by itself before the first restore or save otherwise.
    virtual void Loaded();

    void ReadSettings();
    void WriteSettings();
    // Placement only, on an open file (ReadSettings / WriteSettings call them).
    void ReadPlacement();
    void WritePlacement();

    // State flags: a restore has run; a save completed since the last restore.
    bool Restored() const { return restored_; }
    bool Saved() const { return saved_; }

    // The window, or null when the owner is not one.
    QWidget* Form() const;
    // The window's normal outer bounds: its bounds in the normal state, else the last ones it
    // had in the normal state.
    QRect NormalBounds() const;

    // The key for the current screen size: key + "(<w>x<h>)".
    static QString ScreenKey(const QString& key);

  signals:
    void OnSavePlacement();
    void OnRestorePlacement();
    // After the show hook restored the settings: a plain window's own show handler.
    void OnWindowShow();
    // After the destroy hook: a plain window's own destroy handler.
    void OnWindowDestroy();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Stored properties and values, on the open file (TFormStorage).
    virtual void RestoreProperties() {}
    virtual void SaveProperties() {}

    // The open settings file during one save or restore, else null.
    TIniFile* IniFile() const { return ini_.get(); }
    bool IsLoaded() const { return loaded_; }

  private:
    void WindowShow();
    void WindowDestroy();
    void AdjustMaxPosition();
    void TrackNormalBounds(QEvent::Type type);
    int ReadPlacementInt(const QString& key, int def) const;

    QPointer<QObject> owner_;
    bool active_ = true;
    QString iniFileName_;
    QString iniSection_;
    TWinMinMaxInfo minMaxInfo_;
    TPlacementOptions options_ = TPlacementOptions(fpState | fpPosition);
    bool preventResize_ = false;
    TPlacementRegRoot registryRoot_ = prCurrentUser;
    bool useRegistry_ = false;
    int version_ = 0;

    // The placement record kept between reads and writes (flags, minimized and maximized
    // positions: the window system keeps no such values here).
    int flags_ = 0;
    QList<QRect> normalBounds_;  // the last normal bounds, newest last
    int minX_ = -1, minY_ = -1, maxX_ = -1, maxY_ = -1;

    std::unique_ptr<TIniFile> ini_;
    bool loaded_ = false;
    bool restored_ = false;
    bool saved_ = false;
    bool destroying_ = false;
    bool inClose_ = false;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TFormPlacement::TPlacementOptions)
