#pragma once
// TPicture: the holder of one graphic. It loads a file by looking its extension up in the
// process-wide table of file formats, creating the bound graphic class and having it load the
// file; when that fails the new graphic is dropped and the previous one stays. Change and
// progress notifications of the held graphic are passed on.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Graphic.h"

// One binding of the process-wide file-format table.
struct TPictureFileFormat {
    std::string Extension;  // without the dot, as registered
    std::string Description;
    const TGraphicClass* GraphicClass = nullptr;
};

class TPicture {
  public:
    using TPictureNotifyEvent = std::function<void(TPicture* sender)>;

    TPicture();
    ~TPicture();
    // The picture hands its own address to the graphic's callbacks, so it stays put.
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    // The held graphic (owned by the picture), or null.
    TGraphic* Graphic() const { return graphic_.get(); }
    // Holds a copy of value (a new instance of its class, assigned from it); null empties the
    // picture. When the copy fails the previous graphic stays.
    void SetGraphic(const TGraphic* value);
    // Takes ownership of graphic (null empties the picture).
    void AdoptGraphic(std::unique_ptr<TGraphic> graphic);
    // Gives up the held graphic without copying it (the picture is then empty).
    std::unique_ptr<TGraphic> ReleaseGraphic();
    // Holds a copy of the source picture's graphic.
    void Assign(const TPicture& source);

    int Width() const;
    int Height() const;

    // Loads the file through LoadGraphic and holds the result. On failure the previous graphic
    // stays.
    void LoadFromFile(const std::string& fileName);
    // Creates and loads a graphic for the file. The class registered for its extension (the
    // text after the last dot of the file name, matched without regard to case) goes first;
    // when there is none, when it refuses the file, or when its signature check rejects the
    // content that another class's accepts, every registered class whose signature check
    // (ProbeStream) recognises the content is tried in registration order. Throws
    // EInvalidGraphic "Unknown picture file extension (.ext)" when no class is registered for
    // the extension and none recognises the content; otherwise passes on the error of the first
    // class tried. A cancelled load (EAbort) and a file that cannot be opened end the search.
    // prepare, when set, is called on each new graphic before it loads (callbacks, cancel flag).
    // A loaded bitmap's embedded colour profile is applied (see ApplyEmbeddedProfile).
    static std::unique_ptr<TGraphic> LoadGraphic(
        const std::string& fileName, const std::function<void(TGraphic&)>& prepare = nullptr);
    // Saves the held graphic through its own writer (nothing happens for an empty picture).
    void SaveToFile(const std::string& fileName);

    // Fired when the held graphic is replaced or reports a change; sender is the picture.
    TPictureNotifyEvent OnChange;
    // Progress of the graphic being loaded or held; sender is that graphic.
    TProgressEvent OnProgress;

    void Changed();

    // ---- The process-wide table of file formats ----

    // Binds extension (without the dot) to the class. An extension that is already bound is
    // rebound in place to the new class and description.
    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   const TGraphicClass* graphicClass);
    // Removes every extension bound to the class.
    static void UnregisterGraphicClass(const TGraphicClass* graphicClass);
    // The class bound to the extension (case-insensitive), or null.
    static const TGraphicClass* FindGraphicClass(const std::string& extension);
    // The first registered class whose signature check recognises the file's content, or null
    // (also when the file cannot be read).
    static const TGraphicClass* RecognisedClass(const std::string& fileName);
    // Every binding, in registration order.
    static std::vector<TPictureFileFormat> FileFormats();
    // "*.ext1;*.ext2;..." over the bindings of classes that are, or derive from, graphicClass
    // (all bindings when it is null).
    static std::string GraphicFileMask(const TGraphicClass* graphicClass = nullptr);
    // The extension of a file name without the dot: the text after the last "." of its last
    // path component, empty when there is none.
    static std::string ExtractExtension(const std::string& fileName);

  private:
    void Hook(TGraphic& graphic);
    void Replace(std::unique_ptr<TGraphic> graphic);

    std::unique_ptr<TGraphic> graphic_;
};
