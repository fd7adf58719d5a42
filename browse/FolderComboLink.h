#pragma once
// What the file list needs of the drive-and-folder combo it is linked with. The combo implements
// this interface; the list calls it to keep the combo pointed at the folder it shows and to open
// or close the combo's drop-down tree from its own keys.
#include <QString>

class QObject;
class TFileListView;

class TFolderComboLink {
  public:
    virtual ~TFolderComboLink() = default;

    // The combo as a Qt object; the list watches its destroyed() signal to clear the link.
    virtual QObject* LinkObject() = 0;

    // The combo's FileList property: store the list (nullptr unlinks). Linking a list points it
    // at the combo's chosen path.
    virtual void SetFileList(TFileListView* list) = 0;

    // Shows a folder in the combo without touching the list.
    virtual void SelectFolder(const QString& path) = 0;
    // Rebuilds the combo's folder tree.
    virtual void ReloadTree() = 0;
    // The path chosen in the combo.
    virtual QString SelectedPath() const = 0;

    // Whether the drop-down tree is open.
    virtual bool IsDropDownOpen() const = 0;
    // Opens the drop-down tree when closed and closes it when open; an opened tree takes the
    // focus.
    virtual void ToggleDropDown() = 0;
    // Closes the drop-down tree if it is open.
    virtual void CloseDropDown() = 0;
};
