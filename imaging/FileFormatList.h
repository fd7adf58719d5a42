#pragma once
// TFileFormatList: the registry that binds file extensions to a description and a graphic
// class and hands every binding on to the picture holder's table of file formats
// (TPicture::RegisterFileFormat).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Graphic.h"

// Format-type bits of a registration. The registry stores them and does not read them.
enum TFormatType : uint8_t {
    fmtLayered = 2,     // the format has layers
    fmtMultiImage = 4,  // a file may hold several images
    fmtRaster = 8,      // raster image
    fmtVector = 16      // vector image
};
// A set of TFormatType held in one byte.
using TFormatTypes = uint8_t;

class TFileFormatList {
  public:
    // One registered graphic class.
    struct TClassRecord {
        const TGraphicClass* GraphicClass = nullptr;
        std::string Description;  // common description of the class's extensions
        int Count = 0;            // number of extension records that point here
    };
    // One registered extension.
    struct TExtensionRecord {
        std::string Extension;    // without the dot, compared without regard to case
        std::string Description;  // individual description, may be empty
        TFormatTypes Types = 0;
        TClassRecord* ClassRecord = nullptr;
    };

    TFileFormatList();
    // Runs Clear.
    ~TFileFormatList();
    TFileFormatList(const TFileFormatList&) = delete;
    TFileFormatList& operator=(const TFileFormatList&) = delete;

    // Binds extension to graphicClass. An empty extension is ignored. An extension that is
    // already registered raises EInvalidGraphic "Attempt to register <ext> twice." unless
    // replace is set, in which case it is rebound to graphicClass (the extension record keeps
    // its own description and types). A non-empty common description replaces the class's.
    // Every new or replaced binding is registered with the picture holder under the
    // individual description, or the class's common description when that is empty.
    void RegisterFileFormat(const std::string& extension, const std::string& commonDescription,
                            const std::string& individualDescription, TFormatTypes types,
                            bool replace, const TGraphicClass* graphicClass);
    // With an extension: removes that extension (graphicClass is not consulted); the class
    // record goes, and the class is unregistered from the picture holder, when this was its
    // last extension. Without one: removes every extension of graphicClass and the class.
    // Unknown extensions and classes are ignored.
    void UnregisterFileFormat(const std::string& extension, const TGraphicClass* graphicClass);

    // Index in the extension list (case-insensitive), or -1 (also for an empty extension).
    int FindExtension(const std::string& extension) const;
    // Index in the class list, or -1.
    int FindGraphicClass(const TGraphicClass* graphicClass) const;
    // Unregisters every listed class from the picture holder and empties both lists.
    void Clear();

    int ClassCount() const { return int(classes_.size()); }
    const TClassRecord& ClassRecord(int index) const { return *classes_.at(size_t(index)); }
    int ExtensionCount() const { return int(extensions_.size()); }
    const TExtensionRecord& ExtensionRecord(int index) const {
        return *extensions_.at(size_t(index));
    }
    // The class bound to the extension, or null.
    const TGraphicClass* GraphicClassOf(const std::string& extension) const;

  private:
    TClassRecord* BindClass(const TGraphicClass* graphicClass, const std::string& description);
    void ReleaseClass(TClassRecord* record);
    void PublishExtension(const TExtensionRecord& record);

    std::vector<std::unique_ptr<TClassRecord>> classes_;
    std::vector<std::unique_ptr<TExtensionRecord>> extensions_;
};
