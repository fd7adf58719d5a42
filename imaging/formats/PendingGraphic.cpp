#include "imaging/formats/PendingGraphic.h"

#include <map>
#include <memory>
#include <mutex>

struct TPendingGraphic::Entry {
    std::string className;
    std::string description;
    TGraphicClass info;
};

TPendingGraphic::TPendingGraphic(const Entry& entry)
    : class_(&entry.info), description_(&entry.description) {}

const TGraphicClass& TPendingGraphic::PendingClass(const std::string& className,
                                                   const std::string& description) {
    static std::mutex lock;
    static std::map<std::string, std::unique_ptr<Entry>> entries;
    std::lock_guard guard(lock);
    std::unique_ptr<Entry>& slot = entries[className];
    if (!slot) {
        slot = std::make_unique<Entry>();
        Entry* entry = slot.get();
        entry->className = className;
        entry->description = description;
        entry->info.ClassName = entry->className.c_str();
        entry->info.Create = [entry]() -> std::unique_ptr<TGraphic> {
            return std::unique_ptr<TGraphic>(new TPendingGraphic(*entry));
        };
        entry->info.ProbeStream = nullptr;  // cannot recognise its files yet
        entry->info.Parent = &TFormatGraphic::ClassInfo();
    }
    return slot->info;
}

void TPendingGraphic::LoadFromStream(TStream&) {
    RaiseInvalidGraphicFmt(imsg::FormatNotSupportedYet, description_->c_str());
}
