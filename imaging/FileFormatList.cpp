#include "imaging/FileFormatList.h"

#include <algorithm>
#include <stdexcept>

#include "imaging/ImagingMessages.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/Picture.h"

namespace {

bool SameExtension(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

}  // namespace

TFileFormatList::TFileFormatList() = default;

TFileFormatList::~TFileFormatList() {
    Clear();
}

int TFileFormatList::FindExtension(const std::string& extension) const {
    if (extension.empty()) return -1;
    for (size_t i = 0; i < extensions_.size(); ++i)
        if (SameExtension(extensions_[i]->Extension, extension)) return int(i);
    return -1;
}

int TFileFormatList::FindGraphicClass(const TGraphicClass* graphicClass) const {
    for (size_t i = 0; i < classes_.size(); ++i)
        if (classes_[i]->GraphicClass == graphicClass) return int(i);
    return -1;
}

const TGraphicClass* TFileFormatList::GraphicClassOf(const std::string& extension) const {
    const int index = FindExtension(extension);
    return index < 0 ? nullptr : extensions_[size_t(index)]->ClassRecord->GraphicClass;
}

TFileFormatList::TClassRecord* TFileFormatList::BindClass(const TGraphicClass* graphicClass,
                                                          const std::string& description) {
    TClassRecord* record;
    const int index = FindGraphicClass(graphicClass);
    if (index >= 0) {
        record = classes_[size_t(index)].get();
    } else {
        classes_.push_back(std::make_unique<TClassRecord>());
        record = classes_.back().get();
        record->GraphicClass = graphicClass;
    }
    if (!description.empty()) record->Description = description;
    ++record->Count;
    return record;
}

void TFileFormatList::ReleaseClass(TClassRecord* record) {
    std::erase_if(classes_,
                  [record](const std::unique_ptr<TClassRecord>& r) { return r.get() == record; });
}

void TFileFormatList::PublishExtension(const TExtensionRecord& record) {
    const std::string& description =
        record.Description.empty() ? record.ClassRecord->Description : record.Description;
    TPicture::RegisterFileFormat(record.Extension, description, record.ClassRecord->GraphicClass);
}

void TFileFormatList::RegisterFileFormat(const std::string& extension,
                                         const std::string& commonDescription,
                                         const std::string& individualDescription,
                                         TFormatTypes types, bool replace,
                                         const TGraphicClass* graphicClass) {
    if (extension.empty()) return;
    if (graphicClass == nullptr)
        throw std::invalid_argument("RegisterFileFormat: no graphic class for " + extension);

    const int index = FindExtension(extension);
    if (index < 0) {
        auto record = std::make_unique<TExtensionRecord>();
        record->Extension = extension;
        record->Description = individualDescription;
        record->Types = types;
        extensions_.reserve(extensions_.size() + 1);  // nothing can fail after binding
        record->ClassRecord = BindClass(graphicClass, commonDescription);
        extensions_.push_back(std::move(record));
        PublishExtension(*extensions_.back());
        return;
    }
    if (!replace) RaiseInvalidGraphicFmt(imsg::RegistrationError, extension.c_str());

    TExtensionRecord& record = *extensions_[size_t(index)];
    TClassRecord* old = record.ClassRecord;
    if (old->GraphicClass != graphicClass) {
        record.ClassRecord = BindClass(graphicClass, commonDescription);
        if (--old->Count == 0) ReleaseClass(old);
    }
    PublishExtension(record);
}

void TFileFormatList::UnregisterFileFormat(const std::string& extension,
                                           const TGraphicClass* graphicClass) {
    if (!extension.empty()) {
        const int index = FindExtension(extension);
        if (index < 0) return;
        TClassRecord* record = extensions_[size_t(index)]->ClassRecord;
        if (--record->Count == 0) {
            TPicture::UnregisterGraphicClass(record->GraphicClass);
            ReleaseClass(record);
        }
        extensions_.erase(extensions_.begin() + index);
        return;
    }

    const int classIndex = FindGraphicClass(graphicClass);
    if (classIndex < 0) return;
    TClassRecord* record = classes_[size_t(classIndex)].get();
    for (size_t i = extensions_.size(); i-- > 0 && record->Count > 0;) {
        if (extensions_[i]->ClassRecord != record) continue;
        --record->Count;
        extensions_.erase(extensions_.begin() + std::ptrdiff_t(i));
    }
    ReleaseClass(record);
    TPicture::UnregisterGraphicClass(graphicClass);
}

void TFileFormatList::Clear() {
    for (const auto& record : classes_)
        TPicture::UnregisterGraphicClass(record->GraphicClass);
    classes_.clear();
    extensions_.clear();
}
