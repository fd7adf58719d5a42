#include "imaging/Picture.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/ImagingMessages.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/Stream.h"

namespace {

struct FormatTable {
    std::mutex lock;
    std::vector<TPictureFileFormat> formats;
};

// Never destroyed: the registry unregisters its classes during program exit, possibly after
// this file's statics would have been torn down.
FormatTable& Table() {
    static FormatTable* table = new FormatTable;
    return *table;
}

bool SameExtension(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The classes, in registration order, whose signature check recognises the file's content,
// without exclude; excludeAccepts tells whether exclude's own check (if it has one) does.
std::vector<const TGraphicClass*> ClassesRecognising(const std::string& fileName,
                                                     const TGraphicClass* exclude,
                                                     bool& excludeAccepts) {
    std::vector<const TGraphicClass*> recognising;
    excludeAccepts = true;
    TFileStream stream(fileName);
    for (const TPictureFileFormat& f : TPicture::FileFormats()) {
        const TGraphicClass* cls = f.GraphicClass;
        if (!cls->Create || !cls->ProbeStream) continue;
        if (std::find(recognising.begin(), recognising.end(), cls) != recognising.end()) continue;
        stream.SetPosition(0);
        const bool accepts = cls->ProbeStream(stream);
        if (cls == exclude)
            excludeAccepts = accepts;
        else if (accepts)
            recognising.push_back(cls);
    }
    return recognising;
}

}  // namespace

TPicture::TPicture() = default;

TPicture::~TPicture() {
    // The graphic may still fire callbacks while it is destroyed; they must not reach us.
    if (graphic_) {
        graphic_->OnChange = nullptr;
        graphic_->OnProgress = nullptr;
    }
}

void TPicture::Hook(TGraphic& graphic) {
    graphic.OnChange = [this](TGraphic*) { Changed(); };
    graphic.OnProgress = [this](TGraphic* sender, TProgressStage stage, uint8_t percent,
                                bool redrawNow, const TRect& rect, const std::string& msg) {
        if (OnProgress) OnProgress(sender, stage, percent, redrawNow, rect, msg);
    };
}

void TPicture::Replace(std::unique_ptr<TGraphic> graphic) {
    if (graphic_) {
        graphic_->OnChange = nullptr;
        graphic_->OnProgress = nullptr;
    }
    graphic_ = std::move(graphic);
    if (graphic_) Hook(*graphic_);
    Changed();
}

void TPicture::SetGraphic(const TGraphic* value) {
    if (value == nullptr) {
        Replace(nullptr);
        return;
    }
    const TGraphicClass& cls = value->ClassType();
    if (!cls.Create) throw EInvalidGraphic(std::string("Cannot create a ") + cls.ClassName + ".");
    std::unique_ptr<TGraphic> copy = cls.Create();
    copy->Assign(*value);
    Replace(std::move(copy));
}

void TPicture::AdoptGraphic(std::unique_ptr<TGraphic> graphic) {
    Replace(std::move(graphic));
}

std::unique_ptr<TGraphic> TPicture::ReleaseGraphic() {
    if (graphic_) {
        graphic_->OnChange = nullptr;
        graphic_->OnProgress = nullptr;
    }
    std::unique_ptr<TGraphic> graphic = std::move(graphic_);
    Changed();
    return graphic;
}

void TPicture::Assign(const TPicture& source) {
    if (&source == this) return;
    SetGraphic(source.Graphic());
}

int TPicture::Width() const {
    return graphic_ ? graphic_->Width() : 0;
}
int TPicture::Height() const {
    return graphic_ ? graphic_->Height() : 0;
}

void TPicture::LoadFromFile(const std::string& fileName) {
    // Progress of the load reaches our listener; changes are only passed on once it is ours.
    std::unique_ptr<TGraphic> graphic = LoadGraphic(fileName, [this](TGraphic& g) {
        g.OnProgress = [this](TGraphic* sender, TProgressStage stage, uint8_t percent,
                              bool redrawNow, const TRect& rect, const std::string& msg) {
            if (OnProgress) OnProgress(sender, stage, percent, redrawNow, rect, msg);
        };
    });
    Replace(std::move(graphic));  // on failure the new graphic is gone, ours stays
}

std::unique_ptr<TGraphic> TPicture::LoadGraphic(const std::string& fileName,
                                                const std::function<void(TGraphic&)>& prepare) {
    const std::string ext = ExtractExtension(fileName);
    const TGraphicClass* named = FindGraphicClass(ext);
    if (named != nullptr && !named->Create) named = nullptr;

    bool namedAccepts = true;
    const std::vector<const TGraphicClass*> recognising =
        ClassesRecognising(fileName, named, namedAccepts);
    // A class whose signature check says no is still tried when nothing else recognises the
    // file: some checks are stricter than their loaders.
    std::vector<const TGraphicClass*> order;
    if (named != nullptr && (namedAccepts || recognising.empty())) order.push_back(named);
    order.insert(order.end(), recognising.begin(), recognising.end());
    if (order.empty()) RaiseInvalidGraphicFmt(imsg::UnknownExtension, ext.c_str());

    std::exception_ptr firstError;
    for (const TGraphicClass* cls : order) {
        std::unique_ptr<TGraphic> graphic = cls->Create();
        if (!graphic) continue;
        if (prepare) prepare(*graphic);
        try {
            graphic->LoadFromFile(fileName);
            // Every file load ends here, so an embedded colour profile is applied in one place.
            ApplyEmbeddedProfile(*graphic);
            return graphic;
        } catch (const EAbort&) {
            throw;
        } catch (const EFOpenError&) {
            throw;
        } catch (const EImagingError&) {
            if (!firstError) firstError = std::current_exception();
        }
    }
    if (firstError) std::rethrow_exception(firstError);
    RaiseInvalidGraphicFmt(imsg::UnknownExtension, ext.c_str());
}

void TPicture::SaveToFile(const std::string& fileName) {
    if (graphic_) graphic_->SaveToFile(fileName);
}

void TPicture::Changed() {
    if (OnChange) OnChange(this);
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const TGraphicClass* graphicClass) {
    if (extension.empty() || graphicClass == nullptr) return;
    FormatTable& t = Table();
    std::lock_guard guard(t.lock);
    for (TPictureFileFormat& f : t.formats) {
        if (SameExtension(f.Extension, extension)) {
            f.Description = description;
            f.GraphicClass = graphicClass;
            return;
        }
    }
    t.formats.push_back({extension, description, graphicClass});
}

void TPicture::UnregisterGraphicClass(const TGraphicClass* graphicClass) {
    FormatTable& t = Table();
    std::lock_guard guard(t.lock);
    std::erase_if(t.formats, [graphicClass](const TPictureFileFormat& f) {
        return f.GraphicClass == graphicClass;
    });
}

const TGraphicClass* TPicture::FindGraphicClass(const std::string& extension) {
    if (extension.empty()) return nullptr;
    FormatTable& t = Table();
    std::lock_guard guard(t.lock);
    for (const TPictureFileFormat& f : t.formats)
        if (SameExtension(f.Extension, extension)) return f.GraphicClass;
    return nullptr;
}

const TGraphicClass* TPicture::RecognisedClass(const std::string& fileName) {
    bool unused = false;
    try {
        const auto recognising = ClassesRecognising(fileName, nullptr, unused);
        return recognising.empty() ? nullptr : recognising.front();
    } catch (const EImagingError&) {
        return nullptr;  // unreadable: nothing recognised
    }
}

std::vector<TPictureFileFormat> TPicture::FileFormats() {
    FormatTable& t = Table();
    std::lock_guard guard(t.lock);
    return t.formats;
}

std::string TPicture::GraphicFileMask(const TGraphicClass* graphicClass) {
    std::string mask;
    for (const TPictureFileFormat& f : FileFormats()) {
        if (graphicClass != nullptr && !f.GraphicClass->InheritsFrom(graphicClass)) continue;
        if (!mask.empty()) mask += ';';
        mask += "*.";
        mask += f.Extension;
    }
    return mask;
}

std::string TPicture::ExtractExtension(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return {};
    return fileName.substr(dot + 1);
}
